# Checks a Windows DLL's export table and import list with objdump.
#   cmake -DOBJDUMP=... -DDLL=... -DEXPORTS="name@ordinal;..." -DIMPORTS="KERNEL32.dll;msvcrt.dll"
#         -P check_dll_exports.cmake
# EXPORTS lists exactly the exports expected; nothing else may be exported.
include(${CMAKE_CURRENT_LIST_DIR}/objdump.cmake)
daq_objdump(-p dump)

string(REGEX MATCH "Ordinal Base ([0-9]+)" _ "${dump}")
set(base ${CMAKE_MATCH_1})
if(base STREQUAL "")
  message(FATAL_ERROR "${DLL}: no export table")
endif()

# Name pointer table lines look like "\t[  10] KORVEL_DI": the index into the
# export address table, whose entry i has ordinal base + i.
daq_slice("${dump}" "[Ordinal/Name Pointer] Table\n" "\n\n" table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z_0-9@]+" rows "${table}")
set(actual "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "\\[ *([0-9]+)\\] ([A-Za-z_0-9@]+)" _ "${row}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND actual "${CMAKE_MATCH_2}@${ordinal}")
endforeach()
list(SORT actual)
set(expected ${EXPORTS})
list(SORT expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "${DLL}: exports differ\n  expected: ${expected}\n  actual:   ${actual}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(TOLOWER "${name}" lname)
  set(allowed FALSE)
  foreach(ok IN LISTS IMPORTS)
    string(TOLOWER "${ok}" lok)
    if(lname STREQUAL lok)
      set(allowed TRUE)
    endif()
  endforeach()
  if(NOT allowed)
    message(FATAL_ERROR "${DLL} imports ${name}; only ${IMPORTS} are allowed")
  endif()
endforeach()
list(LENGTH actual n)
message(STATUS "${DLL}: ${n} exports as expected; imports: ${imports}")
