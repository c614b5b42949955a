# Cross-built Windows programs of this build (tests, and any tool run during
# the build) run under Wine, each in the build's own prefix so that nobody's
# ~/.wine is touched and a fresh build starts from a fresh prefix.
find_program(UPDATER_WINE wine)
if(UPDATER_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(UPDATER_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_run.sh.in ${CMAKE_BINARY_DIR}/wine_run.sh
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
  # Read when each target is created, so it must be set before add_subdirectory.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine_run.sh)
endif()
