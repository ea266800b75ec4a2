// Platform layer of the Linux hardware build.
//
// Linux has no "\\.\kelvra" device: what that driver grants on Windows, the
// right of the process to execute port instructions, comes from the kernel
// through iopl(). Opening "\\.\kelvra" asks for it (it needs CAP_SYS_RAWIO) and
// fails, like a missing driver, when the kernel refuses. Closing the last such
// handle gives the right back. There is no per-board interrupt driver on
// Linux, so every other device name fails to open.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <time.h>

#include "kelvra.h"
#include "platform.h"

namespace {

// Handle values this layer hands out for "\\.\kelvra"; any nonzero value that
// is not PLATFORM_INVALID_HANDLE would do.
constexpr PlatformHandle kPortAccessHandleBase = 0x1000;
constexpr unsigned kMaxPortAccessHandles = 64;

bool g_handleOpen[kMaxPortAccessHandles];
unsigned g_openCount;

bool IsPortAccessDevice(const char* name) { return name && strcmp(name, KELVRA_DEVICE_NAME) == 0; }

}  // namespace

PlatformHandle PlatformCreateFile(const char* name, uint32_t, uint32_t, uint32_t, uint32_t) {
  if (!IsPortAccessDevice(name)) return PLATFORM_INVALID_HANDLE;
  unsigned slot = 0;
  while (slot < kMaxPortAccessHandles && g_handleOpen[slot]) ++slot;
  if (slot == kMaxPortAccessHandles) return PLATFORM_INVALID_HANDLE;
  if (g_openCount == 0 && iopl(3) != 0) return PLATFORM_INVALID_HANDLE;
  g_handleOpen[slot] = true;
  ++g_openCount;
  return kPortAccessHandleBase + slot * 4;
}

int32_t PlatformCloseHandle(PlatformHandle handle) {
  if (handle < kPortAccessHandleBase) return 0;
  const PlatformHandle offset = handle - kPortAccessHandleBase;
  if (offset % 4 != 0 || offset / 4 >= kMaxPortAccessHandles || !g_handleOpen[offset / 4]) return 0;
  g_handleOpen[offset / 4] = false;
  if (--g_openCount == 0) iopl(0);
  return 1;
}

int32_t PlatformDeviceIoControl(PlatformHandle, uint32_t, void*, uint32_t, void*, uint32_t,
                                uint32_t* bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  return 0;
}

void PlatformSleep(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void* PlatformHeapAlloc(size_t bytes) { return malloc(bytes); }

void PlatformHeapFree(void* block) { free(block); }
