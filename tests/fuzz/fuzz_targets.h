// The fuzz targets' cores. Each takes one input's bytes and returns the
// number of calls it made; a broken rule aborts.
#ifndef DAQ_TESTS_FUZZ_FUZZ_TARGETS_H
#define DAQ_TESTS_FUZZ_FUZZ_TARGETS_H

#include <cstddef>
#include <cstdint>

namespace daqfuzz {

size_t KorvelFuzzOne(const uint8_t* data, size_t size);
size_t DremorFuzzOne(const uint8_t* data, size_t size);
size_t DaqctlFuzzOne(const uint8_t* data, size_t size);

}  // namespace daqfuzz

#endif
