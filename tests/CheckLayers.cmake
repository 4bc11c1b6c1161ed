# Fails when a file of a layer below the platform layer includes a wx header, or when a
# lower layer includes a header of a layer above it, or when the application's pure part
# includes any of them.
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

check_layer(framework "#[ \t]*include[ \t]*[<\"](wx/|gtk/|gdk/|X11/|vault/|platform/|resources/|dialogs/|app/)")
check_layer(vault "#[ \t]*include[ \t]*[<\"](wx/|gtk/|gdk/|X11/|platform/|resources/|dialogs/|app/)")
check_layer(platform "#[ \t]*include[ \t]*[<\"](resources/|dialogs/|app/)")
check_layer(resources "#[ \t]*include[ \t]*[<\"](dialogs/|app/)")
check_layer(dialogs "#[ \t]*include[ \t]*[<\"](app/)")

# The application's pure part (library app_core) uses nothing of the layers nor of the
# widget library.
foreach(f IN ITEMS UpdateReply.h UpdateReply.cpp WebAddress.h WebAddress.cpp)
    file(STRINGS "${ROOT}/app/${f}" hits
         REGEX "#[ \t]*include[ \t]*[<\"](wx/|gtk/|gdk/|X11/|framework/|vault/|platform/|resources/|dialogs/)")
    if(hits)
        list(APPEND violations "${ROOT}/app/${f}: ${hits}")
    endif()
endforeach()

# The vault dialogue (library vault_dialogue) runs without a display: no widget library, no
# platform layer, and of the panels only the header of the answers they hand it.
foreach(f IN ITEMS app/VaultDialogue.h app/VaultDialogue.cpp app/VaultSteps.cpp
                   app/VaultDialogueView.h dialogs/VaultDialogueEvents.h)
    file(STRINGS "${ROOT}/${f}" hits
         REGEX "#[ \t]*include[ \t]*[<\"](wx/|gtk/|gdk/|X11/|platform/|dialogs/Dia)")
    if(hits)
        list(APPEND violations "${ROOT}/${f}: ${hits}")
    endif()
endforeach()

if(violations)
    string(REPLACE ";" "\n" report "${violations}")
    message(FATAL_ERROR "Layering violations:\n${report}")
endif()
message(STATUS "layering ok")
