# The process list's default process icon (image 0).
qt_add_resources(orvane_shell "list" PREFIX "/list" BASE ${CMAKE_CURRENT_SOURCE_DIR}
    FILES list/process.svg)
