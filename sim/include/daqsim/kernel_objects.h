// The kernel's side of the bench: the named devices the libraries open (the
// drivers' stand-ins), the handles open on them, and a record of every open,
// I/O-control request and bad close.
#ifndef DAQSIM_KERNEL_OBJECTS_H
#define DAQSIM_KERNEL_OBJECTS_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "daqsim/bounded_record.h"
#include "daqsim/kernel_device.h"

namespace daqsim {

// The name of the port-access driver's device. Like every fact about the
// boards and drivers, the bench writes it down itself, independently of the
// libraries, so that tests catch a wrong name there.
inline constexpr const char* kPortAccessDeviceName = "\\\\.\\kelvra";

// Handle value a failed open returns (INVALID_HANDLE_VALUE).
inline constexpr uintptr_t kInvalidHandle = ~uintptr_t(0);

// An open of a named device, with the arguments it was made with.
struct OpenRecord {
  std::string name;
  uint32_t desiredAccess;
  uint32_t shareMode;
  uint32_t creationDisposition;
  uint32_t flagsAndAttributes;
  uintptr_t result;  // the handle, or kInvalidHandle
};

// A device I/O-control request as a library sent it.
struct IoControlRecord {
  uintptr_t handle;
  std::string device;  // empty when the handle was not open
  uint32_t code;
  uint32_t inSize;
  uint32_t outSize;
  bool ok;
};

class KernelObjects {
 public:
  KernelObjects() { Reset(); }
  KernelObjects(const KernelObjects&) = delete;
  KernelObjects& operator=(const KernelObjects&) = delete;

  // No handles, no records, no bound on them, and one device: the
  // port-access driver, installed and accepting.
  void Reset();

  // ---- Devices ----------------------------------------------------------------
  KernelDevice& PortAccessDriver() { return *portAccess_; }
  // Registers a named device; the kernel owns it. Replaces one of the same
  // name (case does not matter), whose handles are gone with it.
  KernelDevice& Add(std::unique_ptr<KernelDevice> device);
  KernelDevice* Find(const std::string& name) const;
  // True while a handle to the port-access driver is open: port I/O is allowed.
  bool PortAccessGranted() const { return portAccess_->openHandles() > 0; }
  unsigned OpenHandleCount() const { return unsigned(handles_.size()); }

  // ---- Calls, with the semantics of their Windows namesakes ---------------------
  uintptr_t Open(const char* name, uint32_t desiredAccess, uint32_t shareMode, uint32_t creationDisposition,
                 uint32_t flagsAndAttributes);
  int32_t Close(uintptr_t handle);
  int32_t IoControl(uintptr_t handle, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                    uint32_t* bytesReturned);

  // ---- Records ------------------------------------------------------------------
  // Every open since the last ClearOpens() / Reset().
  const std::vector<OpenRecord>& opens() const { return opens_; }
  void ClearOpens() { opens_.clear(); }
  const std::vector<IoControlRecord>& ioControls() const { return ioControls_; }
  void ClearIoControls() { ioControls_.clear(); }
  // Closes of a handle that was not open.
  unsigned badCloses() const { return badCloses_; }
  // Bounds the records of opens and requests (bounded_record.h); 0: no bound.
  void SetRecordLimit(size_t limit);

 private:
  size_t limit_ = 0;
  KernelDevice* portAccess_ = nullptr;
  std::map<std::string, std::unique_ptr<KernelDevice>> devices_;  // by lower-case name
  std::map<uintptr_t, KernelDevice*> handles_;
  std::vector<OpenRecord> opens_;
  std::vector<IoControlRecord> ioControls_;
  unsigned badCloses_ = 0;
};

}  // namespace daqsim

#endif
