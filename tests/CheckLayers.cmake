# Fails when a file of a layer below the platform layer includes a wx header, or when a
# lower layer includes a header of a layer above it.
set(violations "")
function(check_layer layer pattern)
    file(GLOB_RECURSE files "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.cpp")
    foreach(f IN LISTS files)
        file(STRINGS "${f}" hits REGEX "${pattern}")
        if(hits)
            list(APPEND violations "${f}: ${hits}")
        endif()
    endforeach()
    set(violations "${violations}" PARENT_SCOPE)
endfunction()

X
check_layer(vault "#[ \t]*include[ \t]*[<\"](wx/|gtk/|gdk/|X11/|platform/|resources/|dialogs/|app/)")
check_layer(platform "#[ \t]*include[ \t]*[<\"](resources/|dialogs/|app/)")
check_layer(resources "#[ \t]*include[ \t]*[<\"](dialogs/|app/)")
check_layer(dialogs "#[ \t]*include[ \t]*[<\"](app/)")

if(violations)
    string(REPLACE ";" "\n" report "${violations}")
    message(FATAL_ERROR "Layering violations:\n${report}")
endif()
message(STATUS "layering ok")
