# What `cmake --install` puts where, and the two ways other projects find the
# libraries afterwards: the CMake package KorvelDremor (imported targets
# KorvelDremor::Korvel and KorvelDremor::Dremor) and the pkg-config files
# korvel.pc and dremor.pc.
#
#   include/korvel/   korvel.h, relay_board_map.h
#   include/dremor/   dremor.h, varno_board_map.h   (the driver interface stays inside)
#   bin/              daqctl; on Windows Korvel.dll, Dremor.dll
#   lib/              Linux: libKorvel.so.X.Y.Z with its SONAME libKorvel.so.X
#                     Windows: libKorvel.dll.a (MinGW), Korvel.lib (MSVC), Korvel.def
#   lib/cmake/KorvelDremor/, lib/pkgconfig/
#   README and licence: share/doc/korvel-dremor/ (Linux), the top folder (Windows)
#
# A tree built on the simulated bench installs nothing by default: its
# libraries drive no hardware and must not be taken for the real ones. It
# installs as the component "sim" when that is asked for by name
# (`cmake --install DIR --component sim`): the same files, the bench library
# and its headers besides, and a package that says backend "sim". A Windows
# simulated tree also has the component "sim_bundle": its three DLLs and the
# example scenarios in one folder, which the Windows release carries in sim/.
include(CMakePackageConfigHelpers)

set(DAQ_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KorvelDremor)
if(WIN32)
  set(DAQ_DOC_DIR .)
else()
  set(DAQ_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/korvel-dremor)
endif()

set(libraries Korvel Dremor)
if(DAQ_BACKEND STREQUAL "sim")
  list(APPEND libraries daqsim)
  set(component COMPONENT sim EXCLUDE_FROM_ALL)
  install(CODE "message(FATAL_ERROR \"This tree is built on the simulated bench: its libraries drive no \"
  \"hardware, so it installs nothing by default. For the libraries of real boards configure with \"
  \"-DDAQ_BACKEND=hardware (the default without a preset; presets linux-hw and win32-hw). To install the \"
  \"simulated libraries and the bench all the same: cmake --install ${PROJECT_BINARY_DIR} --component sim\")")
else()
  set(component COMPONENT hardware)
endif()

# Installed programs find the libraries beside them (Windows) or in lib/
# (RUNPATH $ORIGIN/../lib); a simulated library finds the bench beside it.
if(NOT WIN32)
  file(RELATIVE_PATH bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  if(TARGET daqctl)
    set_target_properties(daqctl PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
  endif()
  if(DAQ_BACKEND STREQUAL "sim")
    set_target_properties(Korvel Dremor PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endif()

# A simulated Windows library needs the bench's DLL at run time; an installed
# package says so (as a link dependency), so that $<TARGET_RUNTIME_DLLS>
# brings daqsim.dll beside a consumer. On Linux the libraries find it
# themselves.
if(WIN32 AND DAQ_BACKEND STREQUAL "sim")
  target_link_libraries(Korvel INTERFACE $<INSTALL_INTERFACE:KorvelDremor::daqsim>)
  target_link_libraries(Dremor INTERFACE $<INSTALL_INTERFACE:KorvelDremor::daqsim>)
endif()

install(TARGETS ${libraries} EXPORT KorvelDremorTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${component}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} ${component}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} ${component})
if(TARGET daqctl)
  install(TARGETS daqctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${component})
endif()

foreach(library Korvel Dremor)
  get_target_property(headers ${library} DAQ_PUBLIC_HEADERS)
  get_target_property(folder ${library} DAQ_INCLUDE_FOLDER)
  install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder} ${component})
  if(WIN32)
    get_target_property(def ${library} DAQ_DEF_FILE)
    install(FILES ${def} DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME ${library}.def ${component})
    get_target_property(msvc_implib ${library} DAQ_MSVC_IMPORT_LIBRARY)
    if(msvc_implib)
      install(FILES ${msvc_implib} DESTINATION ${CMAKE_INSTALL_LIBDIR} ${component})
    endif()
  endif()
endforeach()
if(DAQ_BACKEND STREQUAL "sim")
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/sim/include/daqsim DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} ${component})
endif()

# The CMake package.
install(EXPORT KorvelDremorTargets NAMESPACE KorvelDremor:: DESTINATION ${DAQ_CMAKE_DIR} ${component})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KorvelDremorConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/KorvelDremorConfig.cmake INSTALL_DESTINATION ${DAQ_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/KorvelDremorConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/KorvelDremorConfig.cmake
              ${PROJECT_BINARY_DIR}/package/KorvelDremorConfigVersion.cmake
        DESTINATION ${DAQ_CMAKE_DIR} ${component})

# pkg-config: relocatable (the prefix is found from the .pc file's own
# folder), so an unpacked release works wherever it is put.
file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
set(pc_korvel_description "Driver library for the KORVEL and LUMAR relay-output / digital-input PCI boards")
set(pc_dremor_description "Driver library for the VARNO multifunction PCI board (A/D converter, digital I/O, 8254 timer)")
foreach(library Korvel Dremor)
  string(TOLOWER ${library} pc_name)
  set(pc_library ${library})
  set(pc_description "${pc_${pc_name}_description}")
  if(DAQ_BACKEND STREQUAL "sim")
    string(APPEND pc_description " - simulated bench build, drives no hardware")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/daq.pc.in ${PROJECT_BINARY_DIR}/package/${pc_name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/${pc_name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig ${component})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${DAQ_DOC_DIR} ${component})
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${DAQ_DOC_DIR} RENAME LICENSE.txt ${component})
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${DAQ_DOC_DIR} ${component})
endif()

if(WIN32 AND DAQ_BACKEND STREQUAL "sim")
  # The DLLs alone (as targets, so that a release strips them like the
  # others); their import libraries go to a component nothing installs.
  install(TARGETS Korvel Dremor daqsim
    RUNTIME DESTINATION . COMPONENT sim_bundle EXCLUDE_FROM_ALL
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sim_bundle_import_libraries EXCLUDE_FROM_ALL)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/tools/scenarios/ DESTINATION scenarios
          COMPONENT sim_bundle EXCLUDE_FROM_ALL FILES_MATCHING PATTERN "*.json")
endif()
