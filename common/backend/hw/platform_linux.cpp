// Platform layer of the Linux hardware build.
//
// Linux has no "\\.\kelvra" device: what that driver grants on Windows, the
// right of the process to execute port instructions, comes from the kernel
// through ioperm() (it needs CAP_SYS_RAWIO). Opening "\\.\kelvra" asks for
// the PCI configuration ports 0xCF8-0xCFF, which every scan needs, and fails
// like a missing driver when the kernel refuses. Each library then asks for
// the ports it uses (PlatformAllowPorts): Dremor for its boards' two blocks,
// Korvel for the whole port space, since its I/O exports take any port the
// application names. ioperm is narrower than iopl(3), which would also hand
// the process the interrupt flag.
//
// The kernel keeps one permission bitmap per thread: what this thread is
// granted holds for it and for the threads it creates afterwards. Grants are
// not taken back when the last handle is closed: each library keeps its own
// count of handles, and one library's close must not take from the other the
// ports it still uses (both libraries make no port access without a handle).
//
// There is no per-board interrupt driver on Linux: every other device name
// fails to open, and requests fail.
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <time.h>

#include "kelvra.h"
#include "pci_config.h"
#include "platform.h"

namespace {

// Handle values this layer hands out for "\\.\kelvra"; any nonzero value that
// is not PLATFORM_INVALID_HANDLE would do.
constexpr PlatformHandle kPortAccessHandleBase = 0x1000;
constexpr unsigned kMaxPortAccessHandles = 64;

bool g_handleOpen[kMaxPortAccessHandles];

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

bool IsPortAccessDevice(const char* name) { return name && strcmp(name, KELVRA_DEVICE_NAME) == 0; }

}  // namespace

PlatformHandle PlatformCreateFile(const char* name, uint32_t, uint32_t, uint32_t, uint32_t) {
  if (!IsPortAccessDevice(name)) return PLATFORM_INVALID_HANDLE;
  unsigned slot = 0;
  while (slot < kMaxPortAccessHandles && g_handleOpen[slot]) ++slot;
  if (slot == kMaxPortAccessHandles) return PLATFORM_INVALID_HANDLE;
  if (ioperm(PCI_CONFIG_ADDRESS_PORT, 8, 1) != 0) return PLATFORM_INVALID_HANDLE;
  g_handleOpen[slot] = true;
  return kPortAccessHandleBase + slot * 4;
}

int32_t PlatformCloseHandle(PlatformHandle handle) {
  if (handle < kPortAccessHandleBase) return 0;
  const PlatformHandle offset = handle - kPortAccessHandleBase;
  if (offset % 4 != 0 || offset / 4 >= kMaxPortAccessHandles || !g_handleOpen[offset / 4]) return 0;
  g_handleOpen[offset / 4] = false;
  return 1;
}

int32_t PlatformDeviceIoControl(PlatformHandle, uint32_t, void*, uint32_t, void*, uint32_t,
                                uint32_t* bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  return 0;
}

int32_t PlatformHasInterruptDriver(void) { return 0; }

int32_t PlatformAllowPorts(uint16_t first, uint32_t count) {
  if (count == 0 || uint32_t(first) + count > 0x10000u) return 0;
  return ioperm(first, count, 1) == 0;
}

void PlatformLock(void) { pthread_mutex_lock(&g_lock); }

void PlatformUnlock(void) { pthread_mutex_unlock(&g_lock); }

void PlatformSleep(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void* PlatformHeapAlloc(size_t bytes) { return malloc(bytes); }

void PlatformHeapFree(void* block) { free(block); }
