// The far side of the hardware seam in simulated builds.
//
// A library built with the simulated backend calls these functions where the
// hardware build executes a port instruction or calls KERNEL32. They all act
// on the one bench of the process (daqsim::Bench::Instance()).
#ifndef DAQSIM_MACHINE_H
#define DAQSIM_MACHINE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One port access of `width` bytes (1, 2 or 4).
uint32_t DaqSimPortRead(uint16_t port, unsigned width);
void DaqSimPortWrite(uint16_t port, unsigned width, uint32_t value);

// The kernel-object calls, with the semantics of their Windows namesakes.
uintptr_t DaqSimCreateFile(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                           uint32_t creationDisposition, uint32_t flagsAndAttributes);
int32_t DaqSimCloseHandle(uintptr_t handle);
int32_t DaqSimDeviceIoControl(uintptr_t handle, uint32_t code, void* in, uint32_t inSize, void* out,
                              uint32_t outSize, uint32_t* bytesReturned);
void DaqSimSleep(uint32_t milliseconds);
void* DaqSimHeapAlloc(size_t bytes);
void DaqSimHeapFree(void* block);

#ifdef __cplusplus
}
#endif

#endif
