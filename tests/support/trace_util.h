// Helpers for reading the bench's port-access trace in tests.
#ifndef DAQ_TESTS_SUPPORT_TRACE_UTIL_H
#define DAQ_TESTS_SUPPORT_TRACE_UTIL_H

#include <cstdint>
#include <ostream>
#include <vector>

#include "daqsim/bench.h"

namespace daqtest {

// An access as a test expects it (the time stamp and register name aside).
struct Access {
  daqsim::AccessDir dir;
  uint8_t width;
  uint16_t port;
  uint32_t value;

  friend bool operator==(const Access& a, const Access& b) {
    return a.dir == b.dir && a.width == b.width && a.port == b.port && a.value == b.value;
  }
  friend std::ostream& operator<<(std::ostream& os, const Access& a) {
    return os << (a.dir == daqsim::AccessDir::kRead ? "in" : "out") << int(a.width * 8) << "(0x" << std::hex
              << a.port << ")=0x" << a.value << std::dec;
  }
};

inline Access Out(uint8_t width, uint16_t port, uint32_t value) {
  return Access{daqsim::AccessDir::kWrite, width, port, value};
}
inline Access In(uint8_t width, uint16_t port, uint32_t value) {
  return Access{daqsim::AccessDir::kRead, width, port, value};
}

inline std::vector<Access> Accesses(const std::vector<daqsim::PortAccess>& trace) {
  std::vector<Access> out;
  out.reserve(trace.size());
  for (const auto& a : trace) out.push_back(Access{a.dir, a.width, a.port, a.value});
  return out;
}

// The address word of configuration mechanism #1.
inline uint32_t ConfigAddress(unsigned bus, unsigned device, unsigned function, unsigned reg) {
  return 0x80000000u | bus << 16 | device << 11 | function << 8 | reg << 2;
}

}  // namespace daqtest

#endif
