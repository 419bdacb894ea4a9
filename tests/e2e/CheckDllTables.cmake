# Checks a plugin DLL's export and import tables with objdump:
# exactly the six entry points, undecorated, and only system DLLs imported.
# cmake -DOBJDUMP=... -DDLL=... -P CheckDllTables.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

# Export names: the lines of the "[Ordinal/Name Pointer] Table".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" table "${dump}")
string(REGEX MATCHALL "\\] [^\n]+" rows "${CMAKE_MATCH_1}")
set(names)
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\\] +" "" name "${row}")
  string(STRIP "${name}" name)
  list(APPEND names "${name}")
endforeach()
list(SORT names)
set(expected beNotified getFuncsArray getName isUnicode messageProc setInfo)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports are [${names}], expected exactly [${expected}]")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(system KERNEL32.dll USER32.dll GDI32.dll WINHTTP.dll COMCTL32.dll msvcrt.dll ADVAPI32.dll SHELL32.dll
    OLE32.dll UxTheme.dll api-ms-win-crt-runtime-l1-1-0.dll)
string(TOLOWER "${system}" system)
foreach(line IN LISTS imports)
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST system)
    message(FATAL_ERROR "imports non-system DLL ${dll}")
  endif()
endforeach()
message(STATUS "exports: ${names}; imports: ${imports}")
