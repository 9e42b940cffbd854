# The About box's picture, drawn as SVG and rendered at its own size (400 x 210). Its version
# line is the project's, written in at configure time.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/controls/about.svg.in
               ${CMAKE_CURRENT_BINARY_DIR}/controls/about.svg @ONLY)
qt_add_resources(orvane_controls "controls"
    PREFIX "/controls"
    BASE ${CMAKE_CURRENT_BINARY_DIR}/controls
    FILES ${CMAKE_CURRENT_BINARY_DIR}/controls/about.svg
)
