// The libFuzzer entry point of a fuzz target; the build names the target's
// core in DAQ_FUZZ_ENTRY.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DAQ_FUZZ_ENTRY(data, size);
  return 0;
}
