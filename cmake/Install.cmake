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

# Expat's notice: the vendored copy's own when there is one (the Windows
# build), else Debian's text for the system library.
set(ZIPGRAFT_EXPAT_NOTICE ${PROJECT_SOURCE_DIR}/third_party/expat/COPYING)
if(NOT EXISTS ${ZIPGRAFT_EXPAT_NOTICE})
  set(ZIPGRAFT_EXPAT_NOTICE ${PROJECT_SOURCE_DIR}/third_party/licenses/expat.txt)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/third_party/licenses/zlib.txt
        DESTINATION ${ZIPGRAFT_INSTALL_DOCDIR}/licenses COMPONENT runtime)
install(FILES ${ZIPGRAFT_EXPAT_NOTICE} RENAME expat.txt
        DESTINATION ${ZIPGRAFT_INSTALL_DOCDIR}/licenses COMPONENT runtime)
