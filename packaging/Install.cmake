# Install layout, desktop integration and the Debian package.
#
# The layout is fixed as bin/ and share/ under the prefix: the program recognises an installed
# copy by ../share/orvane/OrvaneHelp.html beside its bin directory, and then keeps its files in
# the user's data directory and opens the manual from there. A GNUInstallDirs override of the
# data directory would break that rule, so the paths are not configurable.

# The application id, icon, web site and mail address are the top-level CMakeLists.txt's.
set(orvane_packaging ${PROJECT_SOURCE_DIR}/packaging)

# The program's own icon (the window and tray show the same drawing).
set(ORVANE_APP_ICON_SVG ${PROJECT_SOURCE_DIR}/resources/${ORVANE_APP_ICON})

install(TARGETS orvane RUNTIME DESTINATION bin)

# The watch service: the program, its systemd units (the service's ExecStart names the program
# where this install puts it: the prefix is known only when the install runs, which for the
# Debian package is /usr), and the package's maintainer scripts (account, group, socket).
if(TARGET orvaned)
    install(TARGETS orvaned RUNTIME DESTINATION sbin)
    install(FILES ${orvane_packaging}/orvaned.socket DESTINATION lib/systemd/system)
    install(CODE "
        set(ORVANED_PATH \"\${CMAKE_INSTALL_PREFIX}/sbin/orvaned\")
        configure_file(\"${orvane_packaging}/orvaned.service.in\"
                       \"${CMAKE_BINARY_DIR}/packaging/orvaned.service\" @ONLY)
    ")
    install(FILES ${CMAKE_BINARY_DIR}/packaging/orvaned.service DESTINATION lib/systemd/system)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        "${orvane_packaging}/debian/postinst;${orvane_packaging}/debian/prerm;${orvane_packaging}/debian/postrm")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
# The manual and its pictures go to share/orvane/ with the rules that place them (resources/help.cmake).

install(FILES ${orvane_packaging}/${ORVANE_APP_ID}.desktop DESTINATION share/applications)
# The release in the metadata is the project's version; its addresses are the project's.
configure_file(${orvane_packaging}/${ORVANE_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/${ORVANE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${ORVANE_APP_ID}.metainfo.xml DESTINATION share/metainfo)

# Icons: the scalable drawing, and the fixed sizes rendered from it at build time for the
# desktops and menus that do not scale SVG.
install(FILES ${ORVANE_APP_ICON_SVG}
        DESTINATION share/icons/hicolor/scalable/apps
        RENAME ${ORVANE_APP_ID}.svg)
find_program(ORVANE_RSVG_CONVERT rsvg-convert)
if(ORVANE_RSVG_CONVERT)
    set(orvane_icon_pngs "")
    foreach(size IN ITEMS 16 32 48 128)
        set(png ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}/${ORVANE_APP_ID}.png)
        add_custom_command(
            OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}
            COMMAND ${ORVANE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${ORVANE_APP_ICON_SVG}
            DEPENDS ${ORVANE_APP_ICON_SVG}
            COMMENT "Rendering the ${size}x${size} application icon"
            VERBATIM)
        list(APPEND orvane_icon_pngs ${png})
        install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(orvane_icons ALL DEPENDS ${orvane_icon_pngs})
else()
    message(WARNING "rsvg-convert not found (Debian package librsvg2-bin): only the scalable "
                    "icon is installed")
endif()

# Debian package: cpack -G DEB in the build directory gives orvane_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane developers")
set(CPACK_PACKAGE_CONTACT "Orvane developers <${ORVANE_SUPPORT_MAIL}>")
set(CPACK_PACKAGE_HOMEPAGE_URL "${ORVANE_WEB_SITE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop process watcher")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Orvane lists every process that has run on the machine since it started,\n"
    "with its name, process identifier, start and finish time, processor load\n"
    "and executable path, refreshed every half second; ended processes keep\n"
    "their row. It writes every start and finish to an event log, kills on\n"
    "sight the programs on its disabled list, kills the selected process on\n"
    "request and hides to the notification area.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links (Qt Core, Gui, Widgets and Svg, which also carries the SVG
# icon engine, and QScintilla for the event log's text box) come from dpkg-shlibdeps; the X11
# and Wayland platform plugins are loaded at run time, not linked, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland")
if(TARGET orvaned)
    # The maintainer scripts make the service's account and group.
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", adduser")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
