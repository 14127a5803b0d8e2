# CPack: a .deb on Linux (cpack -G DEB), a .zip for a Windows cross-build.
# Both carry the "runtime" component only: no tests, benchmarks or libraries.
set(CPACK_PACKAGE_NAME zipgraft)
set(CPACK_PACKAGE_VENDOR "the zipgraft authors")
set(CPACK_PACKAGE_CONTACT "zipgraft authors <zipgraft@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "build self-contained Windows package executables from a stub and a ZIP archive")
# Lines of at most 80 characters: the .deb's control file keeps them as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "zipgraft copies a Windows stub program, rewrites the copy's version resource"
  "from the package definition found inside a ZIP archive, appends the archive"
  "with every offset shifted to count from the start of the combined file, and"
  "verifies the result by loading it as a package again. It needs neither"
  "Windows, an emulator nor a resource compiler.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};runtime;/")
# CPACK_PACKAGE_VERSION comes from project().

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "zipgraft authors <zipgraft@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
