// Stand-ins for the kernel-mode drivers the libraries open by name.
#ifndef DAQSIM_KERNEL_DEVICE_H
#define DAQSIM_KERNEL_DEVICE_H

#include <cstdint>
#include <string>

namespace daqsim {

// A named kernel device ("\\.\kelvra", ...). It can be installed or absent,
// made to refuse opens, and made exclusive (a second open while a handle is
// held fails, as for a device opened with share mode 0 whose driver enforces
// it). The bench counts the handles open on it.
class KernelDevice {
 public:
  explicit KernelDevice(std::string name) : name_(std::move(name)) {}
  virtual ~KernelDevice() = default;
  KernelDevice(const KernelDevice&) = delete;
  KernelDevice& operator=(const KernelDevice&) = delete;

  const std::string& name() const { return name_; }

  void SetInstalled(bool on) { installed_ = on; }
  bool installed() const { return installed_; }
  // Installed, but every open fails (as when access is denied).
  void SetRefuseOpen(bool on) { refuseOpen_ = on; }
  bool refusesOpen() const { return refuseOpen_; }
  void SetExclusive(bool on) { exclusive_ = on; }
  bool exclusive() const { return exclusive_; }

  unsigned openHandles() const { return openHandles_; }
  // Successful opens since the bench was reset.
  unsigned totalOpens() const { return totalOpens_; }

  // A synchronous device I/O-control request. Returns false when the request
  // fails (the default: the device knows no requests).
  virtual bool IoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t* bytesReturned);

 private:
  friend class KernelObjects;  // counts the handles
  std::string name_;
  bool installed_ = true;
  bool refuseOpen_ = false;
  bool exclusive_ = false;
  unsigned openHandles_ = 0;
  unsigned totalOpens_ = 0;
};

}  // namespace daqsim

#endif
