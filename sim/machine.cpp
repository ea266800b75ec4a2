// The C entry points of the simulated backend (machine.h): each acts on the
// one bench of the process.
#include "daqsim/machine.h"

#include "daqsim/bench.h"

using daqsim::Bench;

uint32_t DaqSimPortRead(uint16_t port, unsigned width) { return Bench::Instance().PortRead(port, width); }

void DaqSimPortWrite(uint16_t port, unsigned width, uint32_t value) {
  Bench::Instance().PortWrite(port, width, value);
}

uintptr_t DaqSimCreateFile(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                           uint32_t creationDisposition, uint32_t flagsAndAttributes) {
  return Bench::Instance().OpenDevice(name, desiredAccess, shareMode, creationDisposition,
                                      flagsAndAttributes);
}

int32_t DaqSimCloseHandle(uintptr_t handle) { return Bench::Instance().CloseHandle(handle); }

int32_t DaqSimDeviceIoControl(uintptr_t handle, uint32_t code, void* in, uint32_t inSize, void* out,
                              uint32_t outSize, uint32_t* bytesReturned) {
  return Bench::Instance().DeviceIoControl(handle, code, in, inSize, out, outSize, bytesReturned);
}

void DaqSimSleep(uint32_t milliseconds) { Bench::Instance().Sleep(milliseconds); }

void* DaqSimHeapAlloc(size_t bytes) { return Bench::Instance().HeapAlloc(bytes); }

void DaqSimHeapFree(void* block) { Bench::Instance().HeapFree(block); }
