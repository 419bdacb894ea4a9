# PCRE2 (8-bit, Unicode, JIT) as target siftwell_pcre2.
include_guard(GLOBAL)
# Natively Debian's libpcre2-dev; for Windows the 10.42 release tarball from
# Debian's source package (fetched by scripts/setup), built static with JIT.
if(CMAKE_CROSSCOMPILING)
  set(SIFTWELL_PCRE2_TARBALL "${PROJECT_SOURCE_DIR}/third_party/pcre2_10.42.orig.tar.gz"
      CACHE FILEPATH "pcre2-10.42 release tarball (or its URL)")
  include(FetchContent)
  FetchContent_Declare(pcre2
    URL "${SIFTWELL_PCRE2_TARBALL}"
    URL_HASH SHA256=c33b418e3b936ee3153de2c61cc638e7e4fe3156022a5c77d0711bcbb9d64f1f
    DOWNLOAD_EXTRACT_TIMESTAMP TRUE)
  set(PCRE2_SUPPORT_JIT ON CACHE BOOL "" FORCE)
  set(PCRE2_SUPPORT_UNICODE ON CACHE BOOL "" FORCE)
  set(PCRE2_BUILD_TESTS OFF CACHE BOOL "" FORCE)
  set(PCRE2_BUILD_PCRE2GREP OFF CACHE BOOL "" FORCE)
  set(BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
  FetchContent_GetProperties(pcre2)
  if(NOT pcre2_POPULATED)
    FetchContent_Populate(pcre2)
    add_subdirectory(${pcre2_SOURCE_DIR} ${pcre2_BINARY_DIR} EXCLUDE_FROM_ALL SYSTEM)
  endif()
  add_library(siftwell_pcre2 INTERFACE)
  target_link_libraries(siftwell_pcre2 INTERFACE pcre2-8-static)
  target_include_directories(siftwell_pcre2 SYSTEM INTERFACE ${pcre2_BINARY_DIR})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
  add_library(siftwell_pcre2 INTERFACE)
  target_link_libraries(siftwell_pcre2 INTERFACE PkgConfig::PCRE2)
endif()
