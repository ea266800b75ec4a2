# Runs one example program on a bench and checks what it printed and what it
# left on the bench:
#   cmake -DPROGRAM=path [-DEMULATOR=wine] -DSCENARIO=file -DEXPECTED=file
#         [-DREPORT_CHECKS=path=value,...] -P check_example.cmake
# EXPECTED holds the lines the program must print, all of them, in order; a
# line starting with "re:" is a regular expression the printed line matches
# whole. REPORT_CHECKS are members of the bench's report (DAQSIM_REPORT,
# written at the program's exit) with the values they must have, the path's
# steps joined by dots: relay_boards.0.outputs=0. Every run must leave no
# fault (a port access without port access) and no handle open.
foreach(v PROGRAM SCENARIO EXPECTED)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "check_example.cmake: ${v} is not set")
  endif()
endforeach()

get_filename_component(name "${PROGRAM}" NAME_WE)
set(report "${name}.report.json")  # relative: the same file for Linux and Windows programs
file(REMOVE "${report}")
set(ENV{DAQSIM_SCENARIO} "${SCENARIO}")
set(ENV{DAQSIM_REPORT} "${report}")
execute_process(COMMAND ${EMULATOR} "${PROGRAM}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r" "" out "${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${name} exited with ${rc}\nstdout:\n${out}\nstderr:\n${err}")
endif()

file(STRINGS "${EXPECTED}" expected)
string(REGEX REPLACE "\n$" "" printed "${out}")
string(REPLACE ";" "\\;" printed "${printed}")
string(REPLACE "\n" ";" printed "${printed}")
list(LENGTH expected n_expected)
list(LENGTH printed n_printed)
if(NOT n_expected EQUAL n_printed)
  message(FATAL_ERROR "${name} printed ${n_printed} lines, ${n_expected} expected:\n${out}")
endif()
math(EXPR last "${n_expected} - 1")
foreach(i RANGE ${last})
  list(GET expected ${i} want)
  list(GET printed ${i} got)
  if(want MATCHES "^re:(.*)$")
    set(ok FALSE)
    if(got MATCHES "^${CMAKE_MATCH_1}$")
      set(ok TRUE)
    endif()
  else()
    string(COMPARE EQUAL "${got}" "${want}" ok)
  endif()
  if(NOT ok)
    message(FATAL_ERROR "${name}, line ${i}: printed\n  ${got}\nexpected\n  ${want}\nall it printed:\n${out}")
  endif()
endforeach()

if(NOT EXISTS "${report}")
  message(FATAL_ERROR "${name} left no bench report (${report})")
endif()
file(READ "${report}" json)
string(REPLACE "," ";" checks "faults=0,open_handles=0,${REPORT_CHECKS}")
foreach(check IN LISTS checks)
  if(check STREQUAL "")
    continue()
  endif()
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${check}")
  set(want "${CMAKE_MATCH_2}")
  string(REPLACE "." ";" path "${CMAKE_MATCH_1}")
  string(JSON got ERROR_VARIABLE json_error GET "${json}" ${path})
  if(json_error OR NOT got STREQUAL want)
    message(FATAL_ERROR "${name}: the bench's ${CMAKE_MATCH_1} is '${got}' ${json_error}, expected ${want}")
  endif()
endforeach()
message(STATUS "${name}: ${n_printed} lines as expected, bench checked")
