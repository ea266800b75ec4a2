#include "daqsim/kernel_device.h"

namespace daqsim {

bool KernelDevice::IoControl(uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t* bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  return false;
}

}  // namespace daqsim
