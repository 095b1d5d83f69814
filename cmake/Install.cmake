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

# The manual pages carry the version; they go in compressed, as Debian's tools expect.
foreach(page quelmark quelmark-put)
    configure_file(data/man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
                       COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/man/${page}.1 > ${CMAKE_BINARY_DIR}/man/${page}.1.gz
                       DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1 VERBATIM)
    list(APPEND QUELMARK_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${QUELMARK_MAN_PAGES})
install(FILES ${QUELMARK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# bash-completion looks in <dir>/bash-completion/completions of every data folder (/usr/share,
# /usr/local/share); the file goes there under each program's name, in the place its pkg-config
# file names relative to its prefix.
find_package(PkgConfig QUIET)
set(QUELMARK_COMPLETIONS_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
if(PKG_CONFIG_FOUND)
    pkg_get_variable(completions_dir bash-completion completionsdir)
    pkg_get_variable(completions_prefix bash-completion prefix)
    if(completions_dir AND completions_prefix AND completions_dir MATCHES "^${completions_prefix}/")
        string(LENGTH "${completions_prefix}/" prefix_length)
        string(SUBSTRING "${completions_dir}" ${prefix_length} -1 QUELMARK_COMPLETIONS_DIR)
    endif()
endif()
foreach(program quelmark quelmark-put)
    install(FILES data/completion/quelmark.bash DESTINATION ${QUELMARK_COMPLETIONS_DIR} RENAME ${program})
endforeach()

# systemd looks for user units below <prefix>/lib/systemd/user, whatever the library folder is.
install(FILES contrib/quelmark.service contrib/quelmark-push.service contrib/quelmark-push.timer
        DESTINATION lib/systemd/user)

# What Debian asks of every package: the copyright and the changelog, compressed, in the
# package's documentation folder.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
                   COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/data/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES data/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quelmark)

set(CPACK_PACKAGE_NAME quelmark)
set(CPACK_PACKAGE_VENDOR Varnholt)
set(CPACK_PACKAGE_CONTACT "Varnholt Quelmark developers <quelmark@varnholt.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps web pages up to date with this machine's IP address")
set(CPACK_PACKAGE_DESCRIPTION "Varnholt Quelmark keeps files on FTP, FTPS and SFTP web sites up to date and
writes the machine's current IP address into them as it uploads them,
whenever a page or the address changes. A timer checks every few minutes and
pushes what is due; the same pushes run from the command line and as a
systemd user service. quelmark-put uploads single files for scripts.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# dpkg-shlibdeps (dpkg-dev) names the library packages the programs link against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
