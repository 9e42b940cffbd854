# The two dialogs' window icons: 143 the disabled-process list, 145 the event log.
qt_add_resources(orvane_dialogs "dialogs" PREFIX "/dialogs" BASE ${CMAKE_CURRENT_SOURCE_DIR}
    FILES dialogs/icon143.svg dialogs/icon145.svg)
