# The Debian package, made by CPack from the install rules (scripts/package.sh):
# it holds exactly what `cmake --install --prefix /usr` lays out, plus the
# documents Debian asks of every package. The Windows installer is made by
# makensis from the same install rules (packaging/windows/installer.nsi).

# Windows: the licence and the notices of what the static build carries inside
# its programs lie beside them, as .txt files with CR LF line ends so that a
# double-click opens them readably in any Notepad (and makensis, which shows
# LICENSE.txt on the installer's first page, asks for CR LF).
function(updater_install_windows_text source name)
  file(READ ${PROJECT_SOURCE_DIR}/${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${PROJECT_BINARY_DIR}/packaging/${name} "${text}")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/${source})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${name} DESTINATION ${UPDATER_INSTALL_DIR})
endfunction()
if(WIN32)
  updater_install_windows_text(LICENSE LICENSE.txt)
  updater_install_windows_text(packaging/windows/THIRD-PARTY-NOTICES.txt THIRD-PARTY-NOTICES.txt)
endif()
if(NOT UNIX)
  return()
endif()

# Debian's documents. The man page and changelog are compressed at build time
# with gzip -9n, as Debian policy asks (no name or time stamp inside).
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/vela-updater)
set(_gz ${PROJECT_BINARY_DIR}/packaging)
add_custom_command(OUTPUT ${_gz}/vela-updater.1.gz ${_gz}/vela-update.1.gz ${_gz}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_gz}
  COMMAND sh -c "gzip -9n <'${PROJECT_SOURCE_DIR}/packaging/linux/vela-updater.1' >'${_gz}/vela-updater.1.gz'"
  COMMAND sh -c "gzip -9n <'${PROJECT_SOURCE_DIR}/packaging/linux/vela-update.1' >'${_gz}/vela-update.1.gz'"
  COMMAND sh -c "gzip -9n <'${PROJECT_SOURCE_DIR}/packaging/linux/changelog' >'${_gz}/changelog.gz'"
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/linux/vela-updater.1
          ${PROJECT_SOURCE_DIR}/packaging/linux/vela-update.1
          ${PROJECT_SOURCE_DIR}/packaging/linux/changelog
  VERBATIM)
add_custom_target(package_documents ALL
  DEPENDS ${_gz}/vela-updater.1.gz ${_gz}/vela-update.1.gz ${_gz}/changelog.gz)
install(FILES ${_gz}/vela-updater.1.gz ${_gz}/vela-update.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/copyright ${_gz}/changelog.gz
        DESTINATION ${_doc})

# The maintainer scripts: one script, installed as both, since adding and
# removing the udev rule ask for the same reload and trigger.
foreach(script postinst postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/udev-reload.sh
                 ${_gz}/${script} COPYONLY FILE_PERMISSIONS
                 OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vela-updater)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Vela graphing calculator")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME vela-updater)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orvane updater team <updater@orvane.invalid>")
# The summary above is the synopsis; CPack indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Installs a new set of firmware images onto a Vela graphing calculator
connected by USB in its update mode. One dialog shows the wait for the
calculator, a short start countdown, the progress of each file, retries
and the result.

The package's udev rule gives the logged-in user access to the
calculator's update disk, and to nothing else, so no root is needed.")
# Dependencies from the binaries, not by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The folder dialog and Qt's other texts in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qttranslations5-l10n)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_gz}/postinst ${_gz}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
