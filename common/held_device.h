// A kernel device a library holds open from its DriverInit to its DriverClose:
// the port-access driver, and Dremor's per-board interrupt driver.
#ifndef DAQ_COMMON_HELD_DEVICE_H
#define DAQ_COMMON_HELD_DEVICE_H

#include <stdint.h>

#include <atomic>

#include "platform.h"

// `handle` is the result of the last open, kept even when it failed; `held`
// is true exactly while `handle` comes from a successful open not yet closed.
// A closed handle is forgotten at once: its value may soon belong to another
// object of the application, which a stale close or request must not hit, and
// a failed open (INVALID_HANDLE_VALUE) is never closed.
//
// Every change happens under the library's lock. `held` is atomic because
// Korvel's I/O exports, which take no lock (each is one flag test and one port
// instruction), read it while another thread may be opening or closing.
struct HeldDevice {
  PlatformHandle handle;
  std::atomic<bool> held;

  // Whether the device is held, for a reader that takes no lock.
  bool HeldNow() const { return held.load(std::memory_order_relaxed); }
};

// Opens `name` the way both libraries open their devices: GENERIC_READ, share
// mode 0, no security attributes, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, no
// template. Returns whether the device is now held.
bool HeldDeviceOpen(HeldDevice* device, const char* name);

// Closes the device if it is held, and forgets it. Returns CloseHandle's
// result, or 0 when nothing was held.
int32_t HeldDeviceClose(HeldDevice* device);

#endif
