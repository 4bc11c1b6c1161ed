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

check_layer(framework "#[ \t]*include[ \t]*[<\"](wx/|vault/|platform/|dialogs/|app/)")
check_layer(vault "#[ \t]*include[ \t]*[<\"](wx/|platform/|dialogs/|app/)")
check_layer(platform "#[ \t]*include[ \t]*[<\"](dialogs/|app/)")

if(violations)
    string(REPLACE ";" "\n" report "${violations}")
    message(FATAL_ERROR "Layering violations:\n${report}")
endif()
message(STATUS "layering ok")
