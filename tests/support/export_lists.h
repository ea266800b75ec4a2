// The tests' own list of the libraries' exports: name, ordinal and the bytes
// of arguments a stdcall caller pushes (the @N of the decorated name).
//
// Written here independently of the libraries' .def files on purpose: the
// tests hold the export tables against this list, so a wrong entry in a .def
// (or a prototype that pushes the wrong number of bytes) shows as a failure.
// tests/hardware/CMakeLists.txt reads this file too, for its checks of the
// DLLs' export tables.
#ifndef DAQ_TESTS_SUPPORT_EXPORT_LISTS_H
#define DAQ_TESTS_SUPPORT_EXPORT_LISTS_H

// X(name, ordinal, argument bytes), in ordinal order.
#define KORVEL_EXPORT_LIST(X)       \
  X(PCI_FloatSub2, 2, 8)            \
  X(PCI_ShortSub2, 3, 8)            \
  X(PCI_GetDllVersion, 4, 0)        \
  X(PCI_DriverInit, 5, 4)           \
  X(PCI_DriverClose, 6, 0)          \
  X(PCI_GetDriverVersion, 7, 4)     \
  X(PCI_GetConfigAddressSpace, 8, 32) \
  X(PCI_ActiveBoard, 9, 4)          \
  X(PCI_WhichBoardActive, 10, 0)    \
  X(KORVEL_DO, 11, 8)               \
  X(KORVEL_DI, 12, 4)               \
  X(LUMAR_DO, 13, 8)                \
  X(LUMAR_DI, 14, 4)

#define DREMOR_EXPORT_LIST(X)          \
  X(VARNO_FloatSub, 2, 8)              \
  X(VARNO_ShortSub, 3, 8)              \
  X(VARNO_GetDllVersion, 4, 0)         \
  X(VARNO_DriverInit, 5, 4)            \
  X(VARNO_DriverClose, 6, 0)           \
  X(VARNO_GetDriverVersion, 7, 4)      \
  X(VARNO_GetIrqNo, 8, 4)              \
  X(VARNO_GetConfigAddressSpace, 9, 16) \
  X(VARNO_ActiveBoard, 10, 4)          \
  X(VARNO_WhichBoardActive, 11, 0)     \
  X(VARNO_SetupTimer, 12, 8)           \
  X(VARNO_Do, 13, 4)                   \
  X(VARNO_Di, 14, 4)                   \
  X(VARNO_SetChannelConfig, 15, 8)     \
  X(VARNO_AdPolling, 16, 4)            \
  X(VARNO_AdsPolling, 17, 8)           \
  X(VARNO_Polling, 18, 4)              \
  X(VARNO_AdsPacer, 19, 12)            \
  X(VARNO_InstallIrq, 20, 8)           \
  X(VARNO_INT_AdStart, 21, 12)         \
  X(VARNO_INT_AdStop, 22, 0)           \
  X(VARNO_GetIntCount, 23, 4)          \
  X(VARNO_GetBuffer, 24, 8)            \
  X(VARNO_GetFloatBuffer, 25, 8)       \
  X(VARNO_AdsPacerHex, 26, 12)

namespace daqtest {

struct ExportRow {
  const char* name;
  unsigned ordinal;
  unsigned argBytes;
};

#define DAQTEST_EXPORT_ROW(name, ordinal, bytes) {#name, ordinal, bytes},
inline constexpr ExportRow kKorvelExports[] = {KORVEL_EXPORT_LIST(DAQTEST_EXPORT_ROW)};
inline constexpr ExportRow kDremorExports[] = {DREMOR_EXPORT_LIST(DAQTEST_EXPORT_ROW)};
#undef DAQTEST_EXPORT_ROW

}  // namespace daqtest

#endif
