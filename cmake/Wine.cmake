# The one way Windows programs are run on the build machine: a script,
# ${CMAKE_BINARY_DIR}/wine/run.sh PROGRAM.exe [ARGS...], that runs Wine's
# 64-bit loader directly (the `wine` launcher is not usable everywhere) in a
# Wine prefix of this build directory, quiet, with UTF-8 for the arguments and
# file names. The first start makes the prefix (some 15 seconds); programs
# started meanwhile wait for it instead of making it twice.
# Sets ZG_WINE_RUN to the script, or leaves it empty when Wine is missing.

find_program(ZG_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT ZG_WINE64)
  find_program(ZG_WINE64 NAMES wine64)
endif()

set(ZG_WINE_RUN "")
if(ZG_WINE64)
  set(ZG_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_run.sh.in ${CMAKE_BINARY_DIR}/wine/run.sh @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE)
  set(ZG_WINE_RUN ${CMAKE_BINARY_DIR}/wine/run.sh)
else()
  message(STATUS "wine64 not found: Windows programs cannot be run here")
endif()

# zg_wine_command(NAME PROGRAM OUTPUT_VARIABLE): a script
# ${CMAKE_BINARY_DIR}/wine/NAME.sh that runs the Windows PROGRAM with the
# script's arguments through run.sh, for callers that take one command.
function(zg_wine_command name program out)
  set(script ${CMAKE_BINARY_DIR}/wine/${name}.sh)
  file(WRITE ${script}.in "#!/bin/sh\nexec '${ZG_WINE_RUN}' '${program}' \"$@\"\n")
  file(COPY_FILE ${script}.in ${script} ONLY_IF_DIFFERENT)
  file(CHMOD ${script} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                   GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(${out} ${script} PARENT_SCOPE)
endfunction()

# zg_wine_server_fixture(): the tests wine.server.hold and wine.server.release,
# the setup and clean-up of the fixture "wine_server": one wineserver for the
# prefix, up and booted before the first test that needs it and ended after
# the last. Tests that run Windows programs require it (FIXTURES_REQUIRED
# wine_server), so that none of their programs starts or boots a server, or
# starts while one shuts down. Defined once per build tree.
function(zg_wine_server_fixture)
  get_property(defined GLOBAL PROPERTY ZG_WINE_SERVER_FIXTURE)
  if(defined OR NOT ZG_WINE_RUN)
    return()
  endif()
  set_property(GLOBAL PROPERTY ZG_WINE_SERVER_FIXTURE ON)
  foreach(step IN ITEMS hold release)
    add_test(NAME wine.server.${step}
             COMMAND env ZG_WINE64=${ZG_WINE64} bash ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh
                     --prefix ${ZG_WINE_PREFIX} --${step})
  endforeach()
  set_tests_properties(wine.server.hold PROPERTIES FIXTURES_SETUP wine_server TIMEOUT 300)
  set_tests_properties(wine.server.release PROPERTIES FIXTURES_CLEANUP wine_server TIMEOUT 60)
endfunction()
