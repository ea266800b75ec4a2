// Both libraries export a - b of two 16-bit integers for older applications;
// the difference wraps modulo 2^16 (-32768 - 1 is 32767), which C++ only
// guarantees for unsigned arithmetic.
#ifndef DAQ_COMMON_LEGACY_ARITHMETIC_H
#define DAQ_COMMON_LEGACY_ARITHMETIC_H

#include <stdint.h>

static inline short WrappingSub16(short a, short b) { return (short)(uint16_t)((uint16_t)a - (uint16_t)b); }

#endif
