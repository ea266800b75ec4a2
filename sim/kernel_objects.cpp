#include "daqsim/kernel_objects.h"

#include <algorithm>
#include <cctype>

namespace daqsim {
namespace {

// First handle value handed out; like a Windows handle table the bench gives
// the lowest free value, so a closed handle's value soon belongs to another
// object, which is what makes a stale close dangerous.
constexpr uintptr_t kFirstHandle = 0x100;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

}  // namespace

void KernelObjects::Reset() {
  handles_.clear();
  devices_.clear();
  portAccess_ = &Add(std::make_unique<KernelDevice>(kPortAccessDeviceName));
  opens_.clear();
  ioControls_.clear();
  badCloses_ = 0;
  limit_ = 0;
}

void KernelObjects::SetRecordLimit(size_t limit) {
  limit_ = limit;
  TrimToBound(opens_, limit);
  TrimToBound(ioControls_, limit);
}

KernelDevice& KernelObjects::Add(std::unique_ptr<KernelDevice> device) {
  KernelDevice& ref = *device;
  const std::string key = Lower(device->name());
  auto old = devices_.find(key);
  if (old != devices_.end()) {
    for (auto it = handles_.begin(); it != handles_.end();) {
      it = it->second == old->second.get() ? handles_.erase(it) : std::next(it);
    }
  }
  devices_[key] = std::move(device);
  if (key == Lower(kPortAccessDeviceName)) portAccess_ = &ref;
  return ref;
}

KernelDevice* KernelObjects::Find(const std::string& name) const {
  auto it = devices_.find(Lower(name));
  return it == devices_.end() ? nullptr : it->second.get();
}

uintptr_t KernelObjects::Open(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                              uint32_t creationDisposition, uint32_t flagsAndAttributes) {
  OpenRecord rec{name ? name : "", desiredAccess, shareMode, creationDisposition, flagsAndAttributes,
                 kInvalidHandle};
  KernelDevice* dev = name ? Find(name) : nullptr;
  const bool sharingViolation = dev && dev->exclusive() && dev->openHandles_ > 0;
  if (dev && dev->installed() && !dev->refusesOpen() && !sharingViolation) {
    uintptr_t h = kFirstHandle;
    while (handles_.count(h)) h += 4;
    handles_[h] = dev;
    ++dev->openHandles_;
    ++dev->totalOpens_;
    rec.result = h;
  }
  const uintptr_t result = rec.result;
  AppendBounded(opens_, std::move(rec), limit_);
  return result;
}

int32_t KernelObjects::Close(uintptr_t handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    ++badCloses_;
    return 0;
  }
  --it->second->openHandles_;
  handles_.erase(it);
  return 1;
}

int32_t KernelObjects::IoControl(uintptr_t handle, uint32_t code, void* in, uint32_t inSize, void* out,
                                 uint32_t outSize, uint32_t* bytesReturned) {
  auto it = handles_.find(handle);
  IoControlRecord rec{handle, "", code, inSize, outSize, false};
  uint32_t returned = 0;
  if (it != handles_.end()) {
    rec.device = it->second->name();
    rec.ok = it->second->IoControl(code, in, inSize, out, outSize, &returned);
  }
  if (bytesReturned) *bytesReturned = rec.ok ? returned : 0;
  const bool ok = rec.ok;
  AppendBounded(ioControls_, std::move(rec), limit_);
  return ok ? 1 : 0;
}

}  // namespace daqsim
