# What `cmake --install` puts in place besides the programs' own install rules,
# and the Debian package `cpack -G DEB` builds from it.
include(GNUInstallDirs)

if(TARGET vantrelctl)
    install(TARGETS vantrelctl vantrelctl-desktop RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/vantrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/vantrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/vantrel-warning.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/status)
install(FILES ${PROJECT_SOURCE_DIR}/data/man/vantrel.1 ${PROJECT_SOURCE_DIR}/data/man/vantrelctl.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_CONTACT "Vantrel developers <vantrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keyboard-driven window switcher for X11 desktops")
set(CPACK_PACKAGE_DESCRIPTION
    "Hold a modifier and press Tab to walk the windows in most-recently-used order, type to filter them, or search every window by a fuzzy match of its title.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
include(CPack)
