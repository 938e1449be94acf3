# Installation and the Debian package: the program on the PATH, the template as read-only data, the
# settings under /etc (where the program looks when no other INI is given), and the folders written
# at run time under /var, made for the service's own account by systemd-sysusers and
# systemd-tmpfiles when the package is configured.
include(GNUInstallDirs)
set(VELA_CONFIG_DIR /etc/atualizavela-movel) # fixed: the program looks there
set(VELA_STATE_DIR /var/lib/atualizavela-movel) # StateDirectory= of the package's service
set(VELA_LOG_DIR /var/log/atualizavela-movel)
set(VELA_CACHE_DIR /var/cache/atualizavela-movel)
set(VELA_BIN_DIR ${CMAKE_INSTALL_FULL_BINDIR})
set(VELA_DATA_DIR ${CMAKE_INSTALL_FULL_DATADIR}/atualizavela-movel)
set(VELA_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Where the systemd units are installed")
set(VELA_MAINTAINER "atualizavela-movel maintainers <maintainers@users.noreply.c-seed-7922150f.example>"
    CACHE STRING "The package's Maintainer field")
set(VELA_DEB_VERSION ${PROJECT_VERSION}-1)

# Installing needs only the program (whose build makes its window's library) and the template, not
# the tests and benchmarks: build those two (scripts/package does) or everything before installing
# or packaging.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(pkg ${CMAKE_CURRENT_LIST_DIR})
set(gen ${CMAKE_BINARY_DIR}/packaging)
# Both services share one sandbox.
file(READ ${pkg}/sandbox.conf VELA_SANDBOX)
string(STRIP "${VELA_SANDBOX}" VELA_SANDBOX)
foreach(in atualizavela-movel.ini atualizavela-movel.service atualizavela-movel@.service atualizavela-movel.1
           debian/postrm debian/sysusers.conf debian/tmpfiles.conf debian/changelog)
  configure_file(${pkg}/${in}.in ${gen}/${in} @ONLY)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pkg}/sandbox.conf)
# The README, the package's own manual beside the man page.
configure_file(${CMAKE_SOURCE_DIR}/README.md ${gen}/README.md COPYONLY)
# Compressed as Debian has them: at most, and without a time stamp, so that builds are the same.
foreach(in atualizavela-movel.1 debian/changelog README.md)
  execute_process(COMMAND gzip -9nf ${gen}/${in} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set(doc ${CMAKE_INSTALL_DATADIR}/doc/atualizavela-movel)
install(TARGETS atualizavela-movel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window's library, in the private folder the program looks in (app/CMakeLists.txt); not
# executable, as Debian installs shared libraries.
install(TARGETS atualizavela-movel-janela LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/atualizavela-movel
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_BINARY_DIR}/VAZIO.GDB DESTINATION ${CMAKE_INSTALL_DATADIR}/atualizavela-movel
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# It may hold passwords; postinst gives it to the service's group.
install(FILES ${gen}/atualizavela-movel.ini DESTINATION ${VELA_CONFIG_DIR} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
install(FILES ${gen}/atualizavela-movel.service ${pkg}/atualizavela-movel.timer ${gen}/atualizavela-movel@.service
              ${pkg}/atualizavela-movel@.timer DESTINATION ${VELA_SYSTEMD_UNIT_DIR})
install(FILES ${gen}/debian/sysusers.conf DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d RENAME atualizavela-movel.conf)
install(FILES ${gen}/debian/tmpfiles.conf DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d RENAME atualizavela-movel.conf)
install(FILES ${gen}/atualizavela-movel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pkg}/debian/copyright DESTINATION ${doc})
install(FILES ${gen}/debian/changelog.gz DESTINATION ${doc} RENAME changelog.Debian.gz)
install(FILES ${gen}/README.md.gz DESTINATION ${doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME atualizavela-movel)
set(CPACK_PACKAGE_CONTACT ${VELA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "prepares and publishes the mobile sales application's database")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Empties the mobile database from a template, copies the back-office tables\n"
    "into it and uploads it by FTP. A Qt window with the two steps, or unattended\n"
    "with the argument EXECUTAR. Systemd timers (disabled) run it every night as\n"
    "a sandboxed system account, one instance per company.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened at run time, so not in the binary's needs: the engine that opens local database files;
# and what makes the account and folders when the package is configured.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "firebird3.0-server-core, systemd")
# The INI is the administrator's: an upgrade must keep it.
file(WRITE ${gen}/conffiles "${VELA_CONFIG_DIR}/atualizavela-movel.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${gen}/conffiles ${pkg}/debian/postinst ${pkg}/debian/prerm ${gen}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(BUILD_TESTING)
  # The .deb made from this build tree: its files, lintian, an installation and purge in a scratch
  # root, the units (systemd-analyze) and two companies' instances run together.
  add_test(NAME package_contents COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check-package contents)
  add_test(NAME package_install COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check-package install)
  add_test(NAME package_units COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check-package units)
  add_test(NAME package_instances COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check-package instances)
  set_tests_properties(package_contents PROPERTIES FIXTURES_SETUP vela_deb TIMEOUT 300)
  set_tests_properties(package_install package_units package_instances PROPERTIES FIXTURES_REQUIRED vela_deb)
  set_tests_properties(package_contents package_install package_units package_instances PROPERTIES
                       SKIP_RETURN_CODE 77 ENVIRONMENT
                       "BUILD=${CMAKE_BINARY_DIR};OUT=${gen}/test;BIN_DIR=${VELA_BIN_DIR};WINDOW_DIR=${VELA_WINDOW_MODULE_DIR};DATA_DIR=${VELA_DATA_DIR};CONFIG_DIR=${VELA_CONFIG_DIR};STATE_DIR=${VELA_STATE_DIR};LOG_DIR=${VELA_LOG_DIR};UNIT_DIR=${VELA_SYSTEMD_UNIT_DIR};VERSION=${VELA_DEB_VERSION}")
endif()
