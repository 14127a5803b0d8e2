# Install rules: the tool, its manual page and its documents, all in the
# "runtime" component, which is all that the packages carry.
include(GNUInstallDirs)

# The version lives in project(); the page gets it here.
configure_file(${PROJECT_SOURCE_DIR}/docs/zipgraft.1.in
               ${PROJECT_BINARY_DIR}/docs/zipgraft.1 @ONLY)

# A Windows archive is flat: the program and its documents side by side.
if(WIN32)
  set(ZIPGRAFT_INSTALL_BINDIR .)
  set(ZIPGRAFT_INSTALL_DOCDIR .)
else()
  set(ZIPGRAFT_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(ZIPGRAFT_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS zipgraft RUNTIME DESTINATION ${ZIPGRAFT_INSTALL_BINDIR} COMPONENT runtime)
if(NOT WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/docs/zipgraft.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/THIRD_PARTY.md
        DESTINATION ${ZIPGRAFT_INSTALL_DOCDIR} COMPONENT runtime)

# The notices of what the program links: on Linux the system's zlib and Expat;
# on Windows zlib, the vendored Expat and the MinGW-w64 and GCC runtimes,
# all linked in.
set(licenses ${PROJECT_SOURCE_DIR}/third_party/licenses)
install(FILES ${licenses}/zlib.txt DESTINATION ${ZIPGRAFT_INSTALL_DOCDIR}/licenses
        COMPONENT runtime)
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/third_party/expat/COPYING RENAME expat.txt
          DESTINATION ${ZIPGRAFT_INSTALL_DOCDIR}/licenses COMPONENT runtime)
  install(FILES ${licenses}/mingw-w64.txt ${licenses}/gcc-runtime.txt
          DESTINATION ${ZIPGRAFT_INSTALL_DOCDIR}/licenses COMPONENT runtime)
else()
  install(FILES ${licenses}/expat.txt DESTINATION ${ZIPGRAFT_INSTALL_DOCDIR}/licenses
          COMPONENT runtime)
endif()
