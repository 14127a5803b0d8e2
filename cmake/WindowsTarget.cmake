# What the Windows build adds, included by the top-level CMakeLists.txt when
# the target is Windows: one executable that needs nothing beyond the DLLs
# Windows ships, its version resource, and Wine to run what it builds.

enable_language(RC)

# libgcc, libstdc++ and winpthread linked in, and zlib's static archive
# rather than its import library; release builds without symbols.
add_link_options(-static $<$<CONFIG:Release>:-s>)
set(ZLIB_USE_STATIC_LIBS ON)

# Windows 7 API level: GetFileInformationByHandleEx and friends.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE)

# Debian has no Expat for MinGW-w64: the copy in third_party, as EXPAT::EXPAT.
add_subdirectory(${PROJECT_SOURCE_DIR}/third_party/expat ${PROJECT_BINARY_DIR}/third_party/expat)

# Test programs (GoogleTest's discovery, ctest) run under Wine.
include(Wine)
if(ZG_WINE_RUN)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZG_WINE_RUN})
endif()
