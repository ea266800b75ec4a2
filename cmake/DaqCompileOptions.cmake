# Warnings, sanitizers and the Windows runtime linkage shared by every target.

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(DAQ_SANITIZE AND DAQ_SANITIZE_THREAD)
  message(FATAL_ERROR "DAQ_SANITIZE and DAQ_SANITIZE_THREAD exclude each other")
endif()
if(DAQ_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(DAQ_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # The MinGW runtime goes into every binary, so the DLLs and programs import
  # nothing but Windows' own KERNEL32 and msvcrt and load on any machine.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# Adds the Windows export table (a .def with ordinals) to a library: stdcall
# names are exported undecorated (--kill-at). The linker's own import library
# would then carry undecorated symbols too, which MinGW callers (who
# reference _Name@N) cannot link against; dlltool writes the right one from
# the same .def over it: decorated symbols, undecorated import names. It keeps
# the name MinGW looks for (libKorvel.dll.a, so that -lKorvel finds it).
# With DAQ_MSVC_IMPORT_LIBS, LLVM's dlltool also writes the MSVC import
# library (Korvel.lib) from the .def: COFF short imports of the undecorated
# names under the _Name@N symbols the MSVC linker looks for (-k). Neither
# "lld-link /def:" nor llvm-dlltool without -k gives that: both import the
# decorated names, which the DLL does not export.
function(daq_windows_exports target def_file)
  if(NOT WIN32)
    return()
  endif()
  target_sources(${target} PRIVATE ${def_file})
  target_link_options(${target} PRIVATE -Wl,--kill-at)
  set_target_properties(${target} PROPERTIES PREFIX "")
  find_program(DAQ_DLLTOOL NAMES ${CMAKE_C_COMPILER_TARGET}-dlltool i686-w64-mingw32-dlltool dlltool REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${DAQ_DLLTOOL} --def ${def_file} --dllname $<TARGET_FILE_NAME:${target}> --kill-at
            --output-lib $<TARGET_LINKER_FILE:${target}>
    COMMENT "MinGW import library of $<TARGET_FILE_NAME:${target}>")
  if(DAQ_MSVC_IMPORT_LIBS)
    include(DaqLlvmTools)
    # (-DDAQ_MSVC_IMPORT_LIBS=OFF builds without LLVM, and without Korvel.lib)
    daq_find_llvm_tool(DAQ_LLVM_DLLTOOL llvm-dlltool REQUIRED)
    set(dir ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY})
    if(NOT dir)
      set(dir ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    set(implib ${dir}/${target}.lib)
    add_custom_command(OUTPUT ${implib}
      COMMAND ${DAQ_LLVM_DLLTOOL} -m i386 -k -d ${def_file} -l ${implib}
      DEPENDS ${def_file}
      COMMENT "MSVC import library ${target}.lib")
    add_custom_target(${target}_msvc_import_library ALL DEPENDS ${implib})
    set_target_properties(${target} PROPERTIES DAQ_MSVC_IMPORT_LIBRARY ${implib})
  endif()
endfunction()

# One of the two driver libraries: a shared library of SOURCES with its
# folder as the public include directory (the library header and the board's
# register map, HEADERS: the ones installed), the hardware seam (daq_common)
# compiled in, and on Windows the entry point and the export table of
# DEF_FILE. On Linux the library carries the project's version and an SONAME.
function(daq_driver_library target)
  cmake_parse_arguments(ARG "" "DEF_FILE" "SOURCES;HEADERS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  add_library(KorvelDremor::${target} ALIAS ${target})
  string(TOLOWER ${target} folder)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/${folder}>)
  target_link_libraries(${target} PRIVATE daq_common)
  list(TRANSFORM ARG_HEADERS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  list(TRANSFORM ARG_DEF_FILE PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  set_target_properties(${target} PROPERTIES
    DAQ_PUBLIC_HEADERS "${ARG_HEADERS}" DAQ_INCLUDE_FOLDER ${folder} DAQ_DEF_FILE ${ARG_DEF_FILE})
  if(WIN32)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:daq_dllmain>)
  else()
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
  daq_windows_exports(${target} ${ARG_DEF_FILE})
endfunction()
