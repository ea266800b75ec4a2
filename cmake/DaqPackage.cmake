# The release archive of a hardware build (cpack, run in the build tree):
#   Windows: korvel-dremor-VERSION-win32.zip, a folder with bin/ (the DLLs,
#            daqctl.exe), include/, lib/ (MinGW and MSVC import libraries,
#            .def files, CMake package, pkg-config), README.md and LICENSE.txt;
#            and sim/ with the simulated DLLs and example scenarios, taken
#            from the simulated Windows tree DAQ_PACKAGE_SIM_TREE (when set).
#   Linux:   korvel-dremor-VERSION-linux-x86_64.tar.gz, the same layout with
#            lib/libKorvel.so* and the documents in share/doc/korvel-dremor/.
# scripts/package.sh builds the trees and makes both (cpack --preset linux-hw,
# cpack --preset win32-hw).
set(DAQ_PACKAGE_SIM_TREE "" CACHE PATH
    "Windows: a built simulated Windows tree whose DLLs the release carries in sim/")

set(CPACK_PACKAGE_NAME korvel-dremor)
set(CPACK_PACKAGE_VENDOR "The Korvel and Dremor authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/release)
# The programs and libraries go without their debugging information (the
# trees are RelWithDebInfo builds; daqctl would be some 40 MB).
set(CPACK_STRIP_FILES TRUE)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  if(DAQ_PACKAGE_SIM_TREE)
    # Read by cpack: stops with a plain message when that tree is not built.
    set(CPACK_DAQ_SIM_TREE ${DAQ_PACKAGE_SIM_TREE})
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/DaqPackageCheck.cmake)
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
        "${DAQ_PACKAGE_SIM_TREE};${PROJECT_NAME};sim_bundle;/sim")
  endif()
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
include(CPack)
