// How fast the multifunction board can sample.
#include "acquisition_rate.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace daqctl {

uint32_t SmallestDivisor(AcquireMode mode, double clockHz) {
  const double period = mode == AcquireMode::kBackground ? kConversionSeconds
                                                         : kConversionSeconds + kPacerStatusReadSeconds;
  // The least d with d / f >= period. The product is rounded: 4 MHz x 9 us
  // may come out a hair above 36, which is still 36 clocks.
  const double clocks = clockHz * period;
  double divisor = std::ceil(clocks);
  if (divisor - clocks > 1 - 1e-9) divisor -= 1;
  return uint32_t(std::clamp(divisor, 2.0, 65536.0));
}

std::string Hertz(double hz) {
  if (hz >= 1e6) return fmt::format("{:g} MHz", hz / 1e6);
  if (hz >= 1e3) return fmt::format("{:g} kHz", hz / 1e3);
  return fmt::format("{:g} Hz", hz);
}

std::string Seconds(double s) {
  if (s >= 1) return fmt::format("{:.3g} s", s);
  if (s >= 1e-3) return fmt::format("{:.3g} ms", s * 1e3);
  return fmt::format("{:.3g} us", s * 1e6);
}

}  // namespace daqctl
