# Finds an LLVM tool by its plain name, else under the versioned names
# Debian installs beside it (llvm-dlltool-14, /usr/lib/llvm-14/bin/...), the
# newest first: daq_find_llvm_tool(VAR NAME [REQUIRED]).
function(daq_find_llvm_tool var name)
  if(${var})
    return()
  endif()
  file(GLOB versioned /usr/bin/${name}-[0-9]* /usr/lib/llvm-*/bin/${name})
  list(SORT versioned COMPARE NATURAL ORDER DESCENDING)
  find_program(${var} NAMES ${name} DOC "LLVM's ${name}")
  if(NOT ${var} AND versioned)
    list(GET versioned 0 found)
    set(${var} ${found} CACHE FILEPATH "LLVM's ${name}" FORCE)
  endif()
  if(NOT ${var} AND "REQUIRED" IN_LIST ARGN)
    message(FATAL_ERROR "${name} not found: install Debian's clang, lld and llvm packages "
                        "(scripts/install-deps.sh does)")
  endif()
endfunction()
