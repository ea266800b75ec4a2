// The hardware build: daqctl drives the real machine through the libraries.
#include "daqctl.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace daqctl {

void PrepareMachine(const MachineOptions& options) {
  if (options.sim) {
    throw Failure(kExitUsage, "this daqctl drives hardware; --sim needs the simulated build of daqctl");
  }
}

// The libraries report no PCI slot, and the counter clock is a property of
// the board that software cannot read.
std::string BoardSlot(Family, unsigned) { return "-"; }
std::optional<double> CounterClockHz(unsigned) { return std::nullopt; }
void KeepTimeRunning() {}

DeviceState ProbeDevice(const std::string& name) {
#if defined(_WIN32)
  // Opened as the libraries open it (read and write, not shared), and closed
  // at once; asked only after a library's open failed, to say why.
  const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return DeviceState::kOpenable;
  }
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return DeviceState::kAbsent;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return DeviceState::kRefused;
    default:
      return DeviceState::kUnknown;
  }
#else
  // On Linux the libraries open no device by that name: port access is a
  // capability of the process.
  (void)name;
  return DeviceState::kUnknown;
#endif
}

std::optional<unsigned> MultifunctionBoardsFitted() { return std::nullopt; }

}  // namespace daqctl
