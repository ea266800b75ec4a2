// The fixture of the bench's own tests: an empty bench for every test, its
// kernel devices opened the way the libraries open them, and multifunction
// boards placed at ports a test chooses.
#ifndef DAQ_TESTS_SUPPORT_BENCH_FIXTURE_H
#define DAQ_TESTS_SUPPORT_BENCH_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "daqsim/bench.h"

namespace daqtest {

class BenchFixture : public ::testing::Test {
 protected:
  // GENERIC_READ, as the libraries ask for it.
  static constexpr uint32_t kRead = 0x80000000u;

  void SetUp() override { bench.Reset(); }

  // Opens kernel device `name` (OPEN_EXISTING, normal attributes, no
  // sharing) as the libraries do; daqsim::kInvalidHandle when refused.
  uintptr_t Open(const std::string& name) { return bench.OpenDevice(name.c_str(), kRead, 0, 3, 0x80); }

  // A multifunction board in slot `at` with its bridge block (128 ports) at
  // `bridge`, its board block (64 ports) at `io`, interrupt line `irq` and
  // pin `pin` (1: A); BAR0 is left unset.
  daqsim::MultifunctionBoard& AddVarnoBoard(daqsim::PciLocation at, uint16_t bridge, uint16_t io, uint8_t irq,
                                            uint8_t pin = 1) {
    daqsim::BarSet bars{};
    bars[1] = daqsim::Bar::Io(bridge, 0x80);
    bars[2] = daqsim::Bar::Io(io, 0x40);
    return bench.AddMultifunctionBoard(at, bars, irq, pin);
  }

  daqsim::Bench& bench = daqsim::Bench::Instance();
};

}  // namespace daqtest

#endif
