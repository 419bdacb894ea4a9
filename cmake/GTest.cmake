# GoogleTest: Debian's package natively; built from /usr/src/googletest for Windows.
include_guard(GLOBAL)
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest)  # googletest 1.12 already declares these aliases
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# One test executable: every case becomes a ctest test (listed at test time, so
# Wine never runs during the build). DESKTOP marks tests that drive top-level
# windows, focus or the keyboard: they never run beside each other.
function(siftwell_gtest name)
  cmake_parse_arguments(T "DESKTOP" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  set(lock)
  if(T_DESKTOP)
    set(lock RESOURCE_LOCK desktop)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 LABELS "${CMAKE_SYSTEM_NAME}" ${lock})
endfunction()
