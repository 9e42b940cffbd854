# QScintilla for Qt 6, as Debian ships it (libqscintilla2-qt6-dev): headers under
# <Qt include dir>/Qsci and the library libqscintilla2_qt6, without a CMake package of its own.
#
# Defines QScintilla_FOUND, QScintilla_INCLUDE_DIR, QScintilla_LIBRARY and the imported target
# QScintilla::QScintilla (its headers come in as system headers, so our warnings stay ours).
# Needs Qt6::Widgets to be found first.

set(_qsci_hints "")
if(TARGET Qt6::Core)
    get_target_property(_qsci_qt_includes Qt6::Core INTERFACE_INCLUDE_DIRECTORIES)
    foreach(dir IN LISTS _qsci_qt_includes)
        # .../qt6/QtCore -> .../qt6
        get_filename_component(_qsci_parent "${dir}" DIRECTORY)
        list(APPEND _qsci_hints "${_qsci_parent}")
    endforeach()
endif()

find_path(QScintilla_INCLUDE_DIR
    NAMES Qsci/qsciscintillabase.h
    HINTS ${_qsci_hints}
    PATH_SUFFIXES qt6 ${CMAKE_LIBRARY_ARCHITECTURE}/qt6)
find_library(QScintilla_LIBRARY NAMES qscintilla2_qt6)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(QScintilla
    REQUIRED_VARS QScintilla_LIBRARY QScintilla_INCLUDE_DIR
    REASON_FAILURE_MESSAGE "install the Debian package libqscintilla2-qt6-dev")
mark_as_advanced(QScintilla_INCLUDE_DIR QScintilla_LIBRARY)

if(QScintilla_FOUND AND NOT TARGET QScintilla::QScintilla)
    add_library(QScintilla::QScintilla UNKNOWN IMPORTED)
    set_target_properties(QScintilla::QScintilla PROPERTIES
        IMPORTED_LOCATION "${QScintilla_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${QScintilla_INCLUDE_DIR}"
        INTERFACE_LINK_LIBRARIES Qt6::Widgets)
endif()
unset(_qsci_hints)
unset(_qsci_qt_includes)
unset(_qsci_parent)
