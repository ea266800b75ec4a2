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
// application sleeps, whether it sleeps through the bench or by itself. A port
// access still takes at least its I/O cycle: bench time is the later of the
// wall clock and the end of the last access, so it never goes backwards and a
// loop of N accesses covers at least N us, as on a real machine, however
// much faster a simulated access is. (A library's bounded polling loop -- so
// many status reads for a pacer edge -- therefore waits at least as long in
// bench time as it would on a board.) Sleep adds nothing of its own: the wall
// clock moves while the caller sleeps. daqctl's background acquisitions and
// the bench of an application's process run so.
// Device models derive their state from NowNs() rather than being ticked.
#ifndef DAQSIM_CLOCK_H
#define DAQSIM_CLOCK_H

#include <chrono>
#include <cstdint>

namespace daqsim {

class Clock {
 public:
  static constexpr uint64_t kIoCycleNs = 1000;

  // In real-time mode reading the clock catches it up with the wall clock
  // (never backwards).
  uint64_t NowNs() const {
    if (realTime_) {
      const uint64_t wall = WallNs();
      if (wall > nowNs_) nowNs_ = wall;
    }
    return nowNs_;
  }
  // Time an operation of the machine takes. In real-time mode it sets the
  // earliest time the next operation can happen: `ns` after now.
  void Advance(uint64_t ns) { nowNs_ = NowNs() + ns; }
  void Reset() {
    realTime_ = false;
    nowNs_ = 0;
  }
  bool realTime() const { return realTime_; }
  // Switches mode without a jump: time carries on from where it was.
  void SetRealTime(bool on) {
    if (on == realTime_) return;
    if (on) {
      wallBaseNs_ = nowNs_;
      start_ = std::chrono::steady_clock::now();
    } else {
      NowNs();
    }
    realTime_ = on;
  }

 private:
  uint64_t WallNs() const {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    return wallBaseNs_ + uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
  }

  bool realTime_ = false;
  // The time: in the deterministic mode all of it; in real-time mode the
  // latest time handed out or reserved by an access.
  mutable uint64_t nowNs_ = 0;
  uint64_t wallBaseNs_ = 0;  // the time at the switch to real time
  std::chrono::steady_clock::time_point start_{};
};

}  // namespace daqsim

#endif
