// The library's lock (PlatformLock) for the length of a scope: every export
// that reads or changes the library's state holds one for the whole call.
#ifndef DAQ_COMMON_LIBRARY_LOCK_H
#define DAQ_COMMON_LIBRARY_LOCK_H

#include "platform.h"

class LibraryLock {
 public:
  LibraryLock() { PlatformLock(); }
  ~LibraryLock() { PlatformUnlock(); }
  LibraryLock(const LibraryLock&) = delete;
  LibraryLock& operator=(const LibraryLock&) = delete;
};

#endif
