# Hardening of everything this project compiles (PCRE2 included: it is built
# as part of the project after this file is read).
include_guard(GLOBAL)
add_compile_options(-fstack-protector-strong)
if(WIN32)
  # MinGW links the stack protector's runtime (libssp) statically with -static.
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
  endif()
else()
  # Fortified libc calls need optimisation; the sanitizers do their own checks
  # and see more without glibc's fortified wrappers in the way.
  if(NOT SIFTWELL_SANITIZE AND NOT SIFTWELL_FUZZ)
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  endif()
  add_link_options(-Wl,-z,relro,-z,now)
endif()

# The module users install carries no symbols: after linking, the debug
# information and the symbol table go to symbols/<module>.debug in the build
# tree (one per architecture, as each build tree is), the module is stripped,
# and a debug link names that file for a debugger. Rewriting a PE module
# stamps it with the current time unless SOURCE_DATE_EPOCH says otherwise: 0,
# as the linker's --no-insert-timestamp, keeps the build reproducible.
function(siftwell_strip_to_symbol_file target)
  set(dir ${CMAKE_BINARY_DIR}/symbols)
  set(debug ${dir}/$<TARGET_FILE_NAME:${target}>.debug)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CMAKE_OBJCOPY} --add-gnu-debuglink=${debug} $<TARGET_FILE:${target}>
    COMMENT "Stripping ${target}; symbols in symbols/"
    VERBATIM)
endfunction()
