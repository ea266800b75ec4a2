// The tests' own table of the multifunction board's input ranges: what the
// tests expect the library to write, wait and convert with for each
// configuration code.
//
// Written here independently of the library's table (varno_board_map.h) and
// of the bench's converter on purpose: it is the oracle that catches a wrong
// entry in either.
#ifndef DAQ_TESTS_SUPPORT_VARNO_RANGES_H
#define DAQ_TESTS_SUPPORT_VARNO_RANGES_H

#include <cstdint>
#include <limits>

namespace daqtest {

struct ExpectedRange {
  uint16_t code;
  float fullScale;          // volts; single-precision constants
  uint16_t settlingClocks;  // the count loaded into counter 2 after selecting the code
};

inline constexpr ExpectedRange kExpectedRanges[] = {
    {0, 10.0f, 92},  {1, 5.0f, 92},   {2, 2.5f, 92},   {3, 1.25f, 92},
    {16, 10.0f, 92}, {17, 1.0f, 112}, {18, 0.1f, 560}, {19, 0.01f, 5200},
};

// Configuration codes without a row, and some whose low byte has one.
inline constexpr uint16_t kCodesWithoutARow[] = {0x0113, 0x0200, 0x0311, 0x8012, 0x0104, 4, 7, 20, 0xFFFF};

// A code without a row waits as long as the slowest range does.
inline constexpr uint16_t kLongestSettling = 5200;

inline const ExpectedRange* ExpectedRangeOf(uint16_t code) {
  for (const ExpectedRange& r : kExpectedRanges) {
    if (r.code == code) return &r;
  }
  return nullptr;
}

inline uint16_t ExpectedSettling(uint16_t code) {
  const ExpectedRange* r = ExpectedRangeOf(code);
  return r ? r->settlingClocks : kLongestSettling;
}

// The full scale volts are converted with under `code`: its row's; for a code
// without a row, the row of the low byte that reached GainControl; NaN when
// neither has one.
inline float ExpectedFullScale(uint16_t code) {
  const ExpectedRange* r = ExpectedRangeOf(code);
  if (!r) r = ExpectedRangeOf(code & 0xFF);
  return r ? r->fullScale : std::numeric_limits<float>::quiet_NaN();
}

}  // namespace daqtest

#endif
