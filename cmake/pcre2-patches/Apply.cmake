# Applies Siftwell's patches to the PCRE2 source tree (the working directory):
# the patch step of the pcre2 release that cmake/Pcre2.cmake fetches.
#   cmake -DPATCH_PROGRAM=/usr/bin/patch -DPATCH_DIR=cmake/pcre2-patches -P Apply.cmake
# applies every PATCH_DIR/*.patch in name order. Each must apply exactly (no
# fuzz); one that is already applied is left as it is (the step runs again
# when the set of patches changes). Anything else stops the build: a newer
# PCRE2 may have fixed what a patch fixes, or moved its code.
if(NOT PATCH_PROGRAM)
  message(FATAL_ERROR "no patch program: install the 'patch' package (scripts/setup)")
endif()
file(GLOB patches LIST_DIRECTORIES false "${PATCH_DIR}/*.patch")
list(SORT patches)
foreach(p IN LISTS patches)
  get_filename_component(name "${p}" NAME)
  execute_process(COMMAND "${PATCH_PROGRAM}" -p1 --forward --fuzz=0 --dry-run --silent -i "${p}"
                  RESULT_VARIABLE forward OUTPUT_QUIET ERROR_QUIET)
  if(forward EQUAL 0)
    execute_process(COMMAND "${PATCH_PROGRAM}" -p1 --forward --fuzz=0 --silent -i "${p}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "PCRE2 patch ${name} failed to apply")
    endif()
    message(STATUS "PCRE2: applied ${name}")
    continue()
  endif()
  execute_process(COMMAND "${PATCH_PROGRAM}" -p1 --reverse --force --fuzz=0 --dry-run --silent -i "${p}"
                  RESULT_VARIABLE reverse OUTPUT_QUIET ERROR_QUIET)
  if(reverse EQUAL 0)
    message(STATUS "PCRE2: ${name} already applied")
    continue()
  endif()
  message(FATAL_ERROR "PCRE2 patch ${name} does not apply to this source: if this PCRE2 release "
                      "fixed what it fixes, remove the patch (cmake/pcre2-patches/); otherwise update it")
endforeach()
