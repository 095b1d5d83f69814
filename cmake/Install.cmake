# What `cmake --install` puts where, under the GNU prefixes, and the Debian package made of it
# (`cpack -G DEB`, from the build folder).
include(GNUInstallDirs)

install(TARGETS quelmark quelmark-put RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES data/${QUELMARK_DESKTOP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/${QUELMARK_DESKTOP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The PNG sizes are rendered from the drawing by scripts/render-icons; the drawing itself is the
# scalable one.
install(DIRECTORY data/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES catalogue/icons/quelmark.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QUELMARK_DESKTOP_ID}.svg)

# systemd looks for user units below <prefix>/lib/systemd/user, whatever the library folder is.
install(FILES contrib/quelmark.service contrib/quelmark-push.service contrib/quelmark-push.timer
        DESTINATION lib/systemd/user)

set(CPACK_PACKAGE_NAME quelmark)
set(CPACK_PACKAGE_VENDOR Varnholt)
set(CPACK_PACKAGE_CONTACT "Varnholt Quelmark developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps FTP web pages up to date with this machine's IP address")
set(CPACK_PACKAGE_DESCRIPTION "Varnholt Quelmark keeps files on FTP web sites up to date and writes the
machine's current IP address into them as it uploads them, whenever a page
or the address changes. A timer checks every few minutes and pushes what is
due.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# dpkg-shlibdeps (dpkg-dev) names the library packages the programs link against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
