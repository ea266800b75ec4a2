// The thin platform layer under both driver libraries: the few operating-system
// services they use besides the port instructions. One implementation per
// build, chosen by the build:
//   backend/hw/platform_win32.cpp  KERNEL32 (the real deliverable DLLs)
//   backend/hw/platform_linux.cpp  Linux: "\\.\kelvra" means ioperm() port access
//   backend/sim/platform_sim.cpp   the simulated bench's driver stand-ins
// The arguments mirror the Windows calls so that the library code reads the
// same everywhere and the bench can check exactly what a library asked for.
#ifndef DAQ_COMMON_PLATFORM_H
#define DAQ_COMMON_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A kernel object handle. 32 bits wide on the 32-bit Windows target.
typedef uintptr_t PlatformHandle;

#define PLATFORM_INVALID_HANDLE ((PlatformHandle)-1)

// CreateFileA arguments the libraries use.
#define PLATFORM_GENERIC_READ 0x80000000u
#define PLATFORM_OPEN_EXISTING 3u
#define PLATFORM_FILE_ATTRIBUTE_NORMAL 0x80u

// CreateFileA(name, access, share, NULL, disposition, flags, NULL).
// Returns PLATFORM_INVALID_HANDLE on failure.
PlatformHandle PlatformCreateFile(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                                  uint32_t creationDisposition, uint32_t flagsAndAttributes);

// CloseHandle: nonzero when the handle was closed.
int32_t PlatformCloseHandle(PlatformHandle handle);

// Synchronous DeviceIoControl without an overlapped structure: nonzero on success.
int32_t PlatformDeviceIoControl(PlatformHandle handle, uint32_t code, void* in, uint32_t inSize,
                                void* out, uint32_t outSize, uint32_t* bytesReturned);

// Whether this platform has the per-board interrupt driver ("\\.\VARNOn").
// Windows has it. Linux has none: the board's interrupt would need a service
// in the kernel there, which this system does not ship; the operations that
// need the driver answer as for a missing device and touch nothing.
int32_t PlatformHasInterruptDriver(void);

// Asks for `count` ports from `first` (first + count <= 0x10000) beyond what
// holding "\\.\kelvra" already allows. On Windows the driver allows every
// port: nothing to do. On Linux holding "\\.\kelvra" means the kernel let
// this process have the PCI configuration ports 0xCF8-0xCFF; each library
// then asks for the ports it uses. Nonzero when granted.
int32_t PlatformAllowPorts(uint16_t first, uint32_t count);

// The library's own lock. Each library links its own copy of this layer, so
// each has one lock for the whole process; it is taken by every export that
// reads or changes the library's state, for the whole call, so that no
// handle is closed under a request another thread is making. Not recursive:
// an export never calls another while holding it.
void PlatformLock(void);
void PlatformUnlock(void);

// Sleep for the given number of milliseconds.
void PlatformSleep(uint32_t milliseconds);

// The process heap; NULL when the allocation fails.
void* PlatformHeapAlloc(size_t bytes);
void PlatformHeapFree(void* block);

#ifdef __cplusplus
}
#endif

#endif
