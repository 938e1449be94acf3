# Installation and the Debian package. The program lives in one folder: the executable, its INI,
# the empty template and, at run time, its run log. The mobile folder (the INI's mobile_folder)
# is kept apart as variable data and gets the template as a link into the program's folder.
set(VELA_STATE_DIR /var/opt/atualizavela-movel CACHE PATH "Mobile folder of an installed program")
set(VELA_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Where the systemd units are installed")

# Installing needs only the program and the template, not the tests and benchmarks: build those
# two (scripts/package does) or everything before installing or packaging.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(pkg ${CMAKE_CURRENT_LIST_DIR})
set(gen ${CMAKE_BINARY_DIR}/packaging)
configure_file(${pkg}/atualizavela-movel.ini.in ${gen}/atualizavela-movel.ini @ONLY)
configure_file(${pkg}/atualizavela-movel.service.in ${gen}/atualizavela-movel.service @ONLY)
configure_file(${pkg}/debian/postrm.in ${gen}/postrm @ONLY)

install(TARGETS atualizavela-movel RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/VAZIO.GDB DESTINATION . PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# It may hold the FTP password, which the program refuses from a file others can read.
install(FILES ${gen}/atualizavela-movel.ini DESTINATION . PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
install(FILES ${gen}/atualizavela-movel.service ${pkg}/atualizavela-movel.timer DESTINATION ${VELA_SYSTEMD_UNIT_DIR})
install(DIRECTORY DESTINATION ${VELA_STATE_DIR}/Banco)
install(CODE "file(CREATE_LINK \"\${CMAKE_INSTALL_PREFIX}/VAZIO.GDB\"
                   \"\$ENV{DESTDIR}${VELA_STATE_DIR}/Banco/VAZIO.GDB\" SYMBOLIC)")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME atualizavela-movel)
set(CPACK_PACKAGE_CONTACT "atualizavela-movel maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Prepares and publishes the database of the mobile sales application")
set(CPACK_PACKAGE_DESCRIPTION
    "Empties the mobile database from a template, copies the back-office tables into it and uploads it by FTP. A Qt window with the two steps, or unattended with the argument EXECUTAR; a systemd timer (disabled) runs it every night.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened at run time, so not in the binary's needs: the engine that opens local database files.
set(CPACK_DEBIAN_PACKAGE_DEPENDS firebird3.0-server-core)
# The INI is the administrator's: an upgrade must keep it.
file(WRITE ${gen}/conffiles "${CMAKE_INSTALL_PREFIX}/atualizavela-movel.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${gen}/conffiles ${pkg}/debian/postinst ${pkg}/debian/prerm ${gen}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(BUILD_TESTING)
  # The .deb made from this build tree: its files, permissions, dependencies and units.
  add_test(NAME package_contents COMMAND ${pkg}/check-package contents ${CMAKE_BINARY_DIR} ${gen}/test)
  add_test(NAME package_units COMMAND ${pkg}/check-package units ${CMAKE_BINARY_DIR} ${gen}/test)
  set_tests_properties(package_contents PROPERTIES FIXTURES_SETUP vela_deb TIMEOUT 300)
  set_tests_properties(package_units PROPERTIES FIXTURES_REQUIRED vela_deb SKIP_RETURN_CODE 77)
  set_tests_properties(package_contents package_units PROPERTIES ENVIRONMENT
                       "PREFIX=${CMAKE_INSTALL_PREFIX};STATE_DIR=${VELA_STATE_DIR};UNIT_DIR=${VELA_SYSTEMD_UNIT_DIR}")
endif()
