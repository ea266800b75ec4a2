// Platform layer of the simulated builds: every operating-system service goes
// to the bench, whose driver stand-ins answer the way the real drivers would
// and which models the host (Windows or Linux) the library runs on. The
// bench is reached as the libraries reach it: set up from the environment
// at first use when nobody set it up (Bench::ForLibraries()).
#include "platform.h"

#include <mutex>

#include "daqsim/bench.h"

using daqsim::Bench;

namespace {
// Each library links its own copy of this file, so each has its own lock.
std::mutex g_lock;
}  // namespace

void PlatformLock(void) { g_lock.lock(); }

void PlatformUnlock(void) { g_lock.unlock(); }

PlatformHandle PlatformCreateFile(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                                  uint32_t creationDisposition, uint32_t flagsAndAttributes) {
  return PlatformHandle(
      Bench::ForLibraries().OpenDevice(name, desiredAccess, shareMode, creationDisposition, flagsAndAttributes));
}

int32_t PlatformCloseHandle(PlatformHandle handle) { return Bench::ForLibraries().CloseHandle(handle); }

int32_t PlatformDeviceIoControl(PlatformHandle handle, uint32_t code, void* in, uint32_t inSize,
                                void* out, uint32_t outSize, uint32_t* bytesReturned) {
  return Bench::ForLibraries().DeviceIoControl(handle, code, in, inSize, out, outSize, bytesReturned);
}

int32_t PlatformHasInterruptDriver(void) { return Bench::ForLibraries().HasInterruptDriver(); }

int32_t PlatformAllowPorts(uint16_t first, uint32_t count) { return Bench::ForLibraries().AllowPorts(first, count); }

void PlatformSleep(uint32_t milliseconds) { Bench::ForLibraries().Sleep(milliseconds); }

void* PlatformHeapAlloc(size_t bytes) { return Bench::ForLibraries().HeapAlloc(bytes); }

void PlatformHeapFree(void* block) { Bench::ForLibraries().HeapFree(block); }
