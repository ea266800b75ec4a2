// Platform layer of the simulated builds: every operating-system service goes
// to the bench, whose driver stand-ins answer the way the real drivers would.
#include "platform.h"

#include "daqsim/machine.h"

PlatformHandle PlatformCreateFile(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                                  uint32_t creationDisposition, uint32_t flagsAndAttributes) {
  return (PlatformHandle)DaqSimCreateFile(name, desiredAccess, shareMode, creationDisposition,
                                          flagsAndAttributes);
}

int32_t PlatformCloseHandle(PlatformHandle handle) { return DaqSimCloseHandle(handle); }

int32_t PlatformDeviceIoControl(PlatformHandle handle, uint32_t code, void* in, uint32_t inSize,
                                void* out, uint32_t outSize, uint32_t* bytesReturned) {
  return DaqSimDeviceIoControl(handle, code, in, inSize, out, outSize, bytesReturned);
}

void PlatformSleep(uint32_t milliseconds) { DaqSimSleep(milliseconds); }

void* PlatformHeapAlloc(size_t bytes) { return DaqSimHeapAlloc(bytes); }

void PlatformHeapFree(void* block) { DaqSimHeapFree(block); }
