// How fast the multifunction board can sample.
#include "acquisition_rate.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "daqctl.h"

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

void CheckConverterRate(AcquireMode mode, uint32_t divisor, double clockHz, const char* name) {
  const uint32_t smallest = SmallestDivisor(mode, clockHz);
  if (divisor >= smallest) return;
  const bool pacer = mode == AcquireMode::kPacer;
  throw Failure(kExitUsage, fmt::format("{} {} is too fast for the converter: at the {} counter clock it paces a "
                                        "conversion every {}, but a conversion takes 8 us{}; the smallest divisor "
                                        "that works in {} mode is {} ({})",
                                        name, divisor, Hertz(clockHz), Seconds(divisor / clockHz),
                                        pacer ? " and the library's polling of its end 1 us more" : "",
                                        pacer ? "pacer" : "background", smallest, Hertz(clockHz / smallest)));
}

double ParseCounterClock(const std::string& text, const char* name) {
  const std::optional<double> clock = ParseDecimal(text);
  if (!clock || *clock < kMinCounterClockHz || *clock > kMaxCounterClockHz) {
    throw Failure(kExitUsage, fmt::format("{}: '{}' is no counter clock: give its frequency in Hz, from {:g} Hz to "
                                          "{:g} MHz (an 8254 counts at most 10 MHz)",
                                          name, text, kMinCounterClockHz, kMaxCounterClockHz / 1e6));
  }
  return *clock;
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
