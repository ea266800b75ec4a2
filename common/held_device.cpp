#include "held_device.h"

bool HeldDeviceOpen(HeldDevice* device, const char* name) {
  device->handle = PlatformCreateFile(name, PLATFORM_GENERIC_READ, 0, PLATFORM_OPEN_EXISTING,
                                      PLATFORM_FILE_ATTRIBUTE_NORMAL);
  device->held = device->handle != PLATFORM_INVALID_HANDLE;
  return device->held;
}

int32_t HeldDeviceClose(HeldDevice* device) {
  if (!device->held) return 0;
  device->held = false;
  const int32_t result = PlatformCloseHandle(device->handle);
  device->handle = 0;
  return result;
}
