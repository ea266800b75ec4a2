// The process heap as the libraries see it (HeapAlloc / HeapFree), with
// counts and allocations made to fail.
#ifndef DAQSIM_HEAP_H
#define DAQSIM_HEAP_H

#include <cstddef>
#include <cstdint>

namespace daqsim {

struct HeapStats {
  uint64_t allocations = 0;  // successful
  uint64_t releases = 0;
  uint64_t refused = 0;      // allocations made to fail
  uint64_t outstanding() const { return allocations - releases; }
};

class Heap {
 public:
  // Counts at 0, no failures pending. (Blocks still allocated stay valid.)
  void Reset();
  void* Alloc(size_t bytes);
  void Free(void* block);

  const HeapStats& stats() const { return stats_; }
  // The next `n` allocations fail.
  void FailNext(unsigned n) { failing_ = n; }

 private:
  HeapStats stats_;
  unsigned failing_ = 0;
};

}  // namespace daqsim

#endif
