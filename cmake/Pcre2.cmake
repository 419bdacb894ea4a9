# PCRE2 (8-bit, Unicode, JIT) as target siftwell_pcre2.
include_guard(GLOBAL)
# Every build, native and Windows, compiles the same release from its tarball
# (Debian's orig tarball, fetched and checked by scripts/setup), statically and
# with JIT, so that the CLI and the plugin are one engine. It is built as part
# of this project: directory-wide options (SIFTWELL_SANITIZE, hardening) apply
# to it too, and a fuzzing build can add its instrumentation to the target
# pcre2-8-static (target_compile_options(pcre2-8-static PRIVATE ...)).
# A machine with network can point SIFTWELL_PCRE2_SOURCE at the upstream
# release pcre2-10.46.tar.gz: it is byte-identical. Either way the patches of
# cmake/pcre2-patches/ are applied to it.
set(SIFTWELL_PCRE2_SOURCE "${PROJECT_SOURCE_DIR}/third_party/pcre2_10.46.orig.tar.gz"
    CACHE FILEPATH "pcre2-10.46 release tarball (or its URL)")
if(NOT SIFTWELL_PCRE2_SOURCE MATCHES "^[a-z]+://" AND NOT EXISTS "${SIFTWELL_PCRE2_SOURCE}")
  message(FATAL_ERROR "${SIFTWELL_PCRE2_SOURCE} is missing: run scripts/setup")
endif()
# Fixes of PCRE2 faults that the release still has, one file each, applied
# exactly or not at all (cmake/pcre2-patches/*.patch, each says what it fixes
# and which test shows it). Their hash is part of the patch command, so a
# changed set of patches is applied again to a source tree already extracted.
find_program(SIFTWELL_PATCH_PROGRAM patch REQUIRED)
file(GLOB _siftwell_pcre2_patches "${CMAKE_CURRENT_LIST_DIR}/pcre2-patches/*.patch")
list(SORT _siftwell_pcre2_patches)
set(_siftwell_pcre2_patch_sum "")
foreach(p IN LISTS _siftwell_pcre2_patches)
  file(SHA256 "${p}" sum)
  string(APPEND _siftwell_pcre2_patch_sum "${sum}")
endforeach()
string(SHA256 _siftwell_pcre2_patch_sum "${_siftwell_pcre2_patch_sum}")
include(FetchContent)
FetchContent_Declare(pcre2
  URL "${SIFTWELL_PCRE2_SOURCE}"
  URL_HASH SHA256=8d28d7f2c3b970c3a4bf3776bcbb5adfc923183ce74bc8df1ebaad8c1985bd07
  DOWNLOAD_EXTRACT_TIMESTAMP TRUE
  PATCH_COMMAND "${CMAKE_COMMAND}" "-DPATCH_PROGRAM=${SIFTWELL_PATCH_PROGRAM}"
                "-DPATCH_DIR=${CMAKE_CURRENT_LIST_DIR}/pcre2-patches"
                "-DPATCHES_SHA256=${_siftwell_pcre2_patch_sum}"
                -P "${CMAKE_CURRENT_LIST_DIR}/pcre2-patches/Apply.cmake")
set(PCRE2_SUPPORT_JIT ON CACHE BOOL "" FORCE)
set(PCRE2_SUPPORT_UNICODE ON CACHE BOOL "" FORCE)
set(PCRE2_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(PCRE2_BUILD_PCRE2GREP OFF CACHE BOOL "" FORCE)
set(PCRE2_SHOW_REPORT OFF CACHE BOOL "" FORCE)
# 4-byte internal links: compiled patterns beyond 64 KB (a pattern of a few
# hundred KB, say a long alternation of words, is a valid pattern too).
set(PCRE2_LINK_SIZE 4 CACHE STRING "" FORCE)
set(BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
FetchContent_GetProperties(pcre2)
if(NOT pcre2_POPULATED)
  FetchContent_Populate(pcre2)
  add_subdirectory(${pcre2_SOURCE_DIR} ${pcre2_BINARY_DIR} EXCLUDE_FROM_ALL SYSTEM)
endif()
add_library(siftwell_pcre2 INTERFACE)
target_link_libraries(siftwell_pcre2 INTERFACE pcre2-8-static)
target_include_directories(siftwell_pcre2 SYSTEM INTERFACE ${pcre2_BINARY_DIR})
