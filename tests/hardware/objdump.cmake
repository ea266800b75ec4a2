# Helpers of the scripts that read a DLL with objdump.

# Runs objdump with FLAGS on DLL and leaves its output in OUT; stops the
# script when objdump fails.
function(daq_objdump flags out)
  execute_process(COMMAND ${OBJDUMP} ${flags} ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump ${flags} ${DLL} failed")
  endif()
  set(${out} "${dump}" PARENT_SCOPE)
endfunction()

# The part of TEXT from the first occurrence of FROM up to (not including) the
# first occurrence of TO after it; stops the script when FROM is missing.
function(daq_slice text from to out)
  string(FIND "${text}" "${from}" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "'${from}' not found in ${DLL}")
  endif()
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "${to}" stop)
  string(SUBSTRING "${rest}" 0 ${stop} slice)
  set(${out} "${slice}" PARENT_SCOPE)
endfunction()
