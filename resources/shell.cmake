# The shell's pictures: the application icon, the toolbar's four 16 x 15 images and the six
# 12 x 12 menu images. Compiled in, so the program runs from any directory it is copied to; each
# under its path below resources/ (the application icon's is ORVANE_APP_ICON).
qt_add_resources(orvane_shell "shell" PREFIX "/shell" BASE ${CMAKE_CURRENT_SOURCE_DIR}/shell FILES
    ${ORVANE_APP_ICON}
    shell/toolbar-exit.svg
    shell/toolbar-kill.svg
    shell/toolbar-disable.svg
    shell/toolbar-about.svg
    shell/menu-exit.svg
    shell/menu-kill.svg
    shell/menu-disable.svg
    shell/menu-disabledlist.svg
    shell/menu-eventlog.svg
    shell/menu-help.svg
)
