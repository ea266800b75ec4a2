// How fast the multifunction board can sample, and what a divisor means at a
// counter clock.
//
// The A/D converter needs 8 us per conversion; a pacer pulse that comes while
// a conversion runs is ignored, so a divisor whose period is shorter than a
// conversion samples at a lower rate than it claims (every second or third
// pulse), with nothing to show it.
//
//  - Background mode: the interrupt driver takes each conversion's result, so
//    the pacer may run as fast as the converter: period >= 8 us, the smallest
//    divisor ceil(f x 8 us).
//  - Pacer mode: the library sees each sample as one low-then-high cycle of
//    the end-of-conversion flag, read once per I/O cycle (about 1 us). The
//    flag is high only from the end of a conversion to the next pulse: when
//    that time is shorter than one status read, a cycle can pass unseen and
//    the block silently skips a conversion. On the bench (1 us per port
//    access) every period of 9 us or more delivers every conversion and any
//    shorter one loses some, at every clock tried (1 to 10 MHz): the smallest
//    divisor is ceil(f x 9 us).
// Divisor 1 is the count that parks the 8254 counter (no pulses at all), so
// 2 is the least in any case.
#ifndef DAQCTL_ACQUISITION_RATE_H
#define DAQCTL_ACQUISITION_RATE_H

#include <cstdint>
#include <optional>
#include <string>

namespace daqctl {

enum class AcquireMode { kPacer, kBackground };

constexpr double kConversionSeconds = 8e-6;
constexpr double kPacerStatusReadSeconds = 1e-6;
// An 8254 counts clocks up to 10 MHz; a counter clock beyond that, or not
// above 0, is a mistake on the command line.
constexpr double kMaxCounterClockHz = 10e6;
constexpr double kMinCounterClockHz = 1;

// The smallest divisor that delivers every conversion at counter clock
// `clockHz` in `mode` (at most 65536, which no clock within the limits
// reaches).
uint32_t SmallestDivisor(AcquireMode mode, double clockHz);

// Refuses (Failure(kExitUsage)) a divisor the converter cannot follow at
// counter clock `clockHz` in `mode`, naming the smallest that works; `name`
// is what the caller calls the divisor ("--divisor", "divisor").
void CheckConverterRate(AcquireMode mode, uint32_t divisor, double clockHz, const char* name);

// A counter clock given as text ("4e6", "4000000"): a frequency from 1 Hz to
// 10 MHz, else Failure(kExitUsage) naming `name`.
double ParseCounterClock(const std::string& text, const char* name);

// 4000000 -> "4 MHz", 1000 -> "1 kHz", 61.035 -> "61.035 Hz", 111111.1 -> "111.111 kHz".
std::string Hertz(double hz);
// 0.25 -> "250 ms", 16.38 -> "16.4 s".
std::string Seconds(double s);

}  // namespace daqctl

#endif
