# SPDX-License-Identifier: GPL-3.0-or-later
# Installing and packaging. `cmake --install` lays out the two programs, the menu entry,
# the icon, the service unit and its system user; scripts/package makes a Debian package
# of the same layout with CPack.
include(GNUInstallDirs)

install(TARGETS veldra-headless RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The service's reload runs kill, which Debian ships in procps (not in a minimal system).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "procps")
if(TARGET veldra)  # a build without the window has no menu entry
  install(TARGETS veldra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES deploy/veldra.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES deploy/veldra.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Qt loads its platform plugins at run time: shlibdeps cannot see them.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins")
endif()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES deploy/nginx-veldra.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES deploy/veldra.sysusers DESTINATION lib/sysusers.d RENAME veldra.conf)
# The unit names the installed program, whose folder is known only when installing.
install(CODE "
  set(VELDRA_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${CMAKE_CURRENT_SOURCE_DIR}/deploy/veldra-headless.service.in\"
                 \"${CMAKE_CURRENT_BINARY_DIR}/deploy/veldra-headless.service\" @ONLY)
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deploy/veldra-headless.service DESTINATION lib/systemd/system)

# The licence (DEP-5 copyright file), the changelog and the manual pages, compressed as
# Debian wants them: gzip -9 without name and time stamp, so the same sources give the
# same bytes.
set(veldra_man_pages veldra-headless.1)
if(TARGET veldra)
  list(APPEND veldra_man_pages veldra.1)
endif()
set(veldra_gzipped)
foreach(page IN LISTS veldra_man_pages)
  configure_file(deploy/man/${page}.in deploy/man/${page} @ONLY)
  list(APPEND veldra_gzipped deploy/man/${page})
endforeach()
configure_file(deploy/debian/changelog deploy/changelog COPYONLY)
list(APPEND veldra_gzipped deploy/changelog)
set(veldra_gzip_outputs)
foreach(file IN LISTS veldra_gzipped)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz
                     COMMAND gzip -9n -c ${CMAKE_CURRENT_BINARY_DIR}/${file} > ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz
                     DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file}
                     VERBATIM)
  list(APPEND veldra_gzip_outputs ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(veldra-docs ALL DEPENDS ${veldra_gzip_outputs})
foreach(page IN LISTS veldra_man_pages)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deploy/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deploy/changelog.gz deploy/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME veldra)
set(CPACK_PACKAGE_VENDOR "Veldra")
set(CPACK_PACKAGE_CONTACT "Veldra maintainers <maintainers@veldra-project.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "${PROJECT_HOMEPAGE_URL}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE")
set(CPACK_RPM_PACKAGE_LICENSE "${VELDRA_LICENSE}")
# Debian shows the description as it stands: lines of at most 80 characters, an empty
# line between paragraphs.
if(TARGET veldra)
  string(CONCAT veldra_contents "the window (veldra) and the server without a window\n"
                                "(veldra-headless), whose systemd unit is installed disabled.")
else()
  string(CONCAT veldra_contents "the server without a window (veldra-headless), whose\n"
                                "systemd unit is installed disabled.")
endif()
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "An operator writes query functions, named SQL templates with declared input\n"
       "values; clients ask for them with plain HTTP GET requests and get the whole\n"
       "result as CSV, tab-separated text, XML or JSON. Answers can be cached as\n"
       "files; a white list and a black list in a second database decide which\n"
       "clients are registered.\n"
       "\n"
       "This package holds ${veldra_contents}")
# Stripped in the staging folder (CPack's own stripping keeps the .comment section).
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_SOURCE_DIR}/cmake/StripPackage.cmake")
# Install into the staging folder with the final prefix, so the unit names /usr/bin.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mariadb-server, nginx")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_SOURCE_DIR}/deploy/debian/postinst;${CMAKE_CURRENT_SOURCE_DIR}/deploy/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
