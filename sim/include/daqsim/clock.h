// The bench's virtual time.
//
// In the deterministic mode the bench never reads the wall clock: time moves
// only when the machine does something, so every run is exactly repeatable.
//   - every port access takes one I/O cycle, kIoCycleNs (1 us, the slow end of
//     a PCI I/O cycle through a bridge);
//   - Sleep(ms) moves the clock by ms milliseconds.
// Device models derive their state from NowNs() rather than being ticked.
#ifndef DAQSIM_CLOCK_H
#define DAQSIM_CLOCK_H

#include <cstdint>

namespace daqsim {

class Clock {
 public:
  static constexpr uint64_t kIoCycleNs = 1000;

  uint64_t NowNs() const { return nowNs_; }
  void Advance(uint64_t ns) { nowNs_ += ns; }
  void Reset() { nowNs_ = 0; }

 private:
  uint64_t nowNs_ = 0;
};

}  // namespace daqsim

#endif
