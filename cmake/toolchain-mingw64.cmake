# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 tools
# (g++-mingw-w64-x86-64, libz-mingw-w64-dev):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZG_MINGW_TARGET x86_64-w64-mingw32)
# The POSIX thread model: its C++ library has std::thread and std::mutex,
# which GoogleTest uses; winpthread is linked statically with the rest.
set(CMAKE_C_COMPILER ${ZG_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZG_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZG_MINGW_TARGET}-windres)

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZG_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
