// The bench's time.
//
// Deterministic mode (the default, and what every test uses): the bench never
// reads the wall clock; time moves only when the machine does something, so
// every run is exactly repeatable.
//   - every port access takes one I/O cycle, kIoCycleNs (1 us, the slow end of
//     a PCI I/O cycle through a bridge);
//   - Sleep(ms) moves the clock by ms milliseconds.
// Real-time mode: the clock follows the wall clock (a monotonic one), carrying
// on from the time it had, so that a background acquisition proceeds while the
// application sleeps; port accesses and Sleep then add nothing of their own,
// since the wall clock moves by itself. The command-line tool runs so.
// Device models derive their state from NowNs() rather than being ticked.
#ifndef DAQSIM_CLOCK_H
#define DAQSIM_CLOCK_H

#include <chrono>
#include <cstdint>

namespace daqsim {

class Clock {
 public:
  static constexpr uint64_t kIoCycleNs = 1000;

  uint64_t NowNs() const { return realTime_ ? WallNs() : nowNs_; }
  // Time an operation of the machine takes; no effect in real-time mode.
  void Advance(uint64_t ns) {
    if (!realTime_) nowNs_ += ns;
  }
  void Reset() {
    realTime_ = false;
    nowNs_ = 0;
  }
  bool realTime() const { return realTime_; }
  // Switches mode without a jump: time carries on from where it was.
  void SetRealTime(bool on) {
    if (on == realTime_) return;
    if (on) {
      start_ = std::chrono::steady_clock::now();
    } else {
      nowNs_ = WallNs();
    }
    realTime_ = on;
  }

 private:
  uint64_t WallNs() const {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    return nowNs_ + uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
  }

  bool realTime_ = false;
  uint64_t nowNs_ = 0;  // deterministic time; in real-time mode, the time at the switch
  std::chrono::steady_clock::time_point start_{};
};

}  // namespace daqsim

#endif
