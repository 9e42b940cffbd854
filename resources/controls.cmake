# The About box's picture, drawn as SVG and rendered at its own size (400 x 210).
qt_add_resources(orvane_controls "controls"
    PREFIX "/controls"
    BASE ${CMAKE_CURRENT_SOURCE_DIR}/controls
    FILES ${CMAKE_CURRENT_SOURCE_DIR}/controls/about.svg
)
