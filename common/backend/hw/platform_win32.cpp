// Platform layer of the Windows hardware build: straight to KERNEL32 and the
// C runtime's heap.
// SRW locks need Windows Vista or later.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

#include <stdlib.h>

#include "platform.h"

PlatformHandle PlatformCreateFile(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                                  uint32_t creationDisposition, uint32_t flagsAndAttributes) {
  HANDLE h = CreateFileA(name, desiredAccess, shareMode, NULL, creationDisposition, flagsAndAttributes,
                         NULL);
  return (PlatformHandle)h;
}

int32_t PlatformCloseHandle(PlatformHandle handle) { return CloseHandle((HANDLE)handle) ? 1 : 0; }

int32_t PlatformDeviceIoControl(PlatformHandle handle, uint32_t code, void* in, uint32_t inSize,
                                void* out, uint32_t outSize, uint32_t* bytesReturned) {
  DWORD returned = 0;
  BOOL ok = DeviceIoControl((HANDLE)handle, code, in, inSize, out, outSize, &returned, NULL);
  if (bytesReturned) *bytesReturned = returned;
  return ok ? 1 : 0;
}

// The interrupt driver is the board maker's Windows driver.
int32_t PlatformHasInterruptDriver(void) { return 1; }

// The port-access driver already allows every port.
int32_t PlatformAllowPorts(uint16_t, uint32_t) { return 1; }

namespace {
// Statically initialised: nothing runs when the DLL is loaded.
SRWLOCK g_lock = SRWLOCK_INIT;
}  // namespace

void PlatformLock(void) { AcquireSRWLockExclusive(&g_lock); }

void PlatformUnlock(void) { ReleaseSRWLockExclusive(&g_lock); }

void PlatformSleep(uint32_t milliseconds) { Sleep(milliseconds); }

void* PlatformHeapAlloc(size_t bytes) { return malloc(bytes); }

void PlatformHeapFree(void* block) { free(block); }
