// The multifunction board's sample words: their 12-bit codes, the volts a
// code stands for, and the codes at the ends of the range.
#ifndef DAQCTL_SAMPLE_CODES_H
#define DAQCTL_SAMPLE_CODES_H

#include <cstdint>

#include "varno_board_map.h"

namespace daqctl {

// A sample word in volts, as the library converts it: (code - mid-scale) x
// step x full scale. (code - mid-scale) has at most 12 significant bits and
// the step is a power of two: the products are exact in double precision,
// so the conversion to float is the one rounding.
inline float CodeToVolts(uint16_t word, float fullScale) {
  const double code = double(word & VARNO_AD_CODE_MASK);
  return float((code - VARNO_AD_MID_SCALE) * double(VARNO_AD_STEP) * double(fullScale));
}

// A sample at code 0 or 4095 lies at an end of the range: the input may have
// been beyond it. Such samples are flagged, never taken for readings.
inline bool OverRange(uint16_t code) { return code == 0 || code == VARNO_AD_MAX_CODE; }

}  // namespace daqctl

#endif
