# Read by cpack before it packages a Windows hardware tree: the simulated
# Windows tree whose DLLs go into sim/ must be built.
if(CPACK_DAQ_SIM_TREE AND NOT EXISTS "${CPACK_DAQ_SIM_TREE}/bin/daqsim.dll")
  message(FATAL_ERROR "The release's sim/ folder comes from the simulated Windows tree "
                      "${CPACK_DAQ_SIM_TREE}, which is not built: build the win32-sim preset first "
                      "(scripts/package.sh does), or configure with -DDAQ_PACKAGE_SIM_TREE= for a "
                      "release without sim/.")
endif()
