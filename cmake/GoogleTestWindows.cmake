# GoogleTest for the Windows target, built from Debian's sources
# (googletest package, /usr/src/googletest): Debian ships it built for Linux only.
# Defines GTest::gtest and GTest::gtest_main as find_package(GTest) would.
set(ZG_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZG_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Their code, their warnings: our -Werror is for our code.
foreach(target IN ITEMS gtest gtest_main)
  target_compile_options(${target} PRIVATE -w)
endforeach()
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
