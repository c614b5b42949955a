# Where the suite's programs are installed, and the rule every program follows.
include(GNUInstallDirs)

# The program folder, under the install prefix: the programs with icons/ and
# resource/ beside them, since both are looked up next to the executable. On
# Linux a private folder with links in bin; on Windows the installer's own
# folder under Program Files is the prefix itself.
if(WIN32)
  set(UPDATER_INSTALL_DIR ".")
else()
  set(UPDATER_INSTALL_DIR "lib/vela-updater")
endif()

# updater_install_program(target [LINK name])
# Installs a program into the program folder, and on Linux a link to it named
# LINK in bin. The .deb and the Windows installer take whatever is installed,
# so this one call is all a new program needs to be shipped.
function(updater_install_program target)
  cmake_parse_arguments(P "" "LINK" "" ${ARGN})
  install(TARGETS ${target} RUNTIME DESTINATION ${UPDATER_INSTALL_DIR})
  if(UNIX AND P_LINK)
    set(program "$<TARGET_FILE_NAME:${target}>")
    install(CODE "
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      file(CREATE_LINK \"../${UPDATER_INSTALL_DIR}/${program}\"
           \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${P_LINK}\" SYMBOLIC)
    ")
  endif()
endfunction()
