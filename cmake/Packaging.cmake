# SPDX-License-Identifier: GPL-3.0-or-later
# Installing and packaging. `cmake --install` lays out the two programs, the menu entry,
# the icon, the service unit and its system user; scripts/package makes a Debian package
# of the same layout with CPack.
include(GNUInstallDirs)

install(TARGETS veldra-headless RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET veldra)  # a build without the window has no menu entry
  install(TARGETS veldra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES deploy/veldra.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES deploy/veldra.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Qt loads its platform plugins at run time: shlibdeps cannot see them.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
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

set(CPACK_PACKAGE_NAME veldra)
set(CPACK_PACKAGE_VENDOR "Veldra")
set(CPACK_PACKAGE_CONTACT "Veldra maintainers <veldra@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Publishes SQL queries of a MariaDB/MySQL database over HTTP")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "An operator writes query functions (named SQL templates with declared input values);\n"
       "clients ask for them with plain HTTP GET requests and get the whole result as CSV,\n"
       "tab-separated text, XML or JSON. Includes the window (veldra) and the server without\n"
       "a window (veldra-headless) with a systemd unit, installed disabled.")
set(CPACK_STRIP_FILES ON)
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
