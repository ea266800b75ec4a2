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
# the same .def: decorated symbols, undecorated import names.
function(daq_windows_exports target def_file)
  if(WIN32)
    target_sources(${target} PRIVATE ${def_file})
    target_link_options(${target} PRIVATE -Wl,--kill-at)
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib.a")
    find_program(DAQ_DLLTOOL NAMES i686-w64-mingw32-dlltool dlltool REQUIRED)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${DAQ_DLLTOOL} --def ${def_file} --dllname $<TARGET_FILE_NAME:${target}> --kill-at
              --output-lib $<TARGET_LINKER_FILE:${target}>
      COMMENT "Import library of $<TARGET_FILE_NAME:${target}>")
  endif()
endfunction()

# One of the two driver libraries: a shared library of SOURCES with its
# folder as the public include directory (the library header and the board's
# register map), the hardware seam (daq_common) compiled in, and on Windows
# the entry point and the export table of DEF_FILE.
function(daq_driver_library target def_file)
  add_library(${target} SHARED ${ARGN})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE daq_common)
  if(WIN32)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:daq_dllmain>)
  endif()
  daq_windows_exports(${target} ${def_file})
endfunction()
