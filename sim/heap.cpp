#include "daqsim/heap.h"

#include <cstdlib>

namespace daqsim {

void Heap::Reset() {
  stats_ = HeapStats{};
  failing_ = 0;
}

void* Heap::Alloc(size_t bytes) {
  if (failing_ > 0) {
    --failing_;
    ++stats_.refused;
    return nullptr;
  }
  void* block = std::malloc(bytes ? bytes : 1);
  if (block) ++stats_.allocations;
  return block;
}

void Heap::Free(void* block) {
  if (!block) return;
  ++stats_.releases;
  std::free(block);
}

}  // namespace daqsim
