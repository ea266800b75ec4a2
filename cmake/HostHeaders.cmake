# Libraries from Debian's packages that the tools and the bench use as
# headers: CLI11, fmt and nlohmann-json. A native build takes them through
# their CMake packages. The cross build uses their headers alone (fmt in
# header-only mode), staged in a folder of their own so that no other host
# header leaks into a Windows build.
include_guard(GLOBAL)

# daq_host_header_library(target PACKAGE...): an INTERFACE target carrying the
# packages named (CLI11, fmt, nlohmann_json).
function(daq_host_header_library target)
  add_library(${target} INTERFACE)
  if(CMAKE_CROSSCOMPILING)
    set(stage ${CMAKE_BINARY_DIR}/host-headers)
    file(MAKE_DIRECTORY ${stage})
    foreach(package IN LISTS ARGN)
      set(dir ${package})
      if(package STREQUAL "CLI11")
        set(dir CLI)
      elseif(package STREQUAL "nlohmann_json")
        set(dir nlohmann)
      elseif(package STREQUAL "fmt")
        target_compile_definitions(${target} INTERFACE FMT_HEADER_ONLY=1)
      endif()
      if(NOT EXISTS ${stage}/${dir})
        file(CREATE_LINK /usr/include/${dir} ${stage}/${dir} SYMBOLIC)
      endif()
    endforeach()
    target_include_directories(${target} SYSTEM INTERFACE ${stage})
  else()
    foreach(package IN LISTS ARGN)
      if(package STREQUAL "CLI11")
        find_package(CLI11 CONFIG REQUIRED)
        target_link_libraries(${target} INTERFACE CLI11::CLI11)
      elseif(package STREQUAL "fmt")
        find_package(fmt REQUIRED)
        # The hardware build's daqctl is the one released: fmt header-only
        # there too, so that the installed program needs no fmt library. The
        # simulated builds link Debian's (quicker to compile).
        if(DAQ_BACKEND STREQUAL "hardware")
          target_link_libraries(${target} INTERFACE fmt::fmt-header-only)
        else()
          target_link_libraries(${target} INTERFACE fmt::fmt)
        endif()
      elseif(package STREQUAL "nlohmann_json")
        find_package(nlohmann_json REQUIRED)
        target_link_libraries(${target} INTERFACE nlohmann_json::nlohmann_json)
      else()
        message(FATAL_ERROR "daq_host_header_library: unknown package ${package}")
      endif()
    endforeach()
  endif()
endfunction()
