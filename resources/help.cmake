# The user's manual and its pictures go beside the built program (the directory of `orvane`),
# where Help looks for it, and to share/orvane/ for an installed copy. The manual names the
# project's version, written in at configure time.
set(orvane_manual ${CMAKE_BINARY_DIR}/src/OrvaneHelp.html)
configure_file(${PROJECT_SOURCE_DIR}/resources/OrvaneHelp.html.in ${orvane_manual} @ONLY)

set(orvane_manual_pictures)
foreach(picture main-window.png process-menu.png tray-menu.png about.png disabled-list.png
                event-log.png)
    list(APPEND orvane_manual_pictures ${PROJECT_SOURCE_DIR}/docs/${picture})
endforeach()

set(orvane_manual_outputs)
foreach(source IN LISTS orvane_manual_pictures)
    get_filename_component(name ${source} NAME)
    set(output ${CMAKE_BINARY_DIR}/src/${name})
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${output}
        DEPENDS ${source}
        COMMENT "Placing ${name} beside the program" VERBATIM)
    list(APPEND orvane_manual_outputs ${output})
endforeach()
add_custom_target(orvane_manual ALL DEPENDS ${orvane_manual_outputs})
add_dependencies(orvane_shell orvane_manual)

# Always share/orvane beside bin: that layout is how the program recognises an installed copy.
install(FILES ${orvane_manual} ${orvane_manual_pictures} DESTINATION share/orvane)
