/* What only the Dremor library itself uses: its loop bounds, the settling
 * count it loads, the range lookup and the conversion of sample words to
 * volts. Not part of the library's interface (applications include dremor.h
 * and varno_board_map.h); tests reach all of this through the exports. */
#ifndef DREMOR_INTERNAL_H
#define DREMOR_INTERNAL_H

#include <stdint.h>

#include <limits>

#include "varno_board_map.h"

/* A/D timing bounds, counts rather than times (the library knows no clock):
 * a wait for the end-of-conversion flag gives up after this many AdStatus
 * reads; the settling wait loads at most 0x7FFF (so bit 15 can only come from
 * the wrap) and polls counter 2 at most 32767 times. */
#define VARNO_AD_STATUS_READS 65531u
#define VARNO_SETTLING_COUNT_MASK 0x7FFFu
#define VARNO_SETTLING_MAX_POLLS 32767u

/* Byte lanes of a 16-bit count written to an 8254 counter. */
static inline uint8_t CountLowByte(uint16_t count) { return (uint8_t)(count & 0xFFu); }
static inline uint8_t CountHighByte(uint16_t count) { return (uint8_t)((count >> 8) & 0xFFu); }

/* The count the settling wait loads for a requested count: bits 0-14, with 1
 * in place of 0 (which the 8254 would take as 65536). */
static inline uint16_t VarnoSettlingLoadCount(uint32_t count) {
  const uint16_t loaded = (uint16_t)(count & VARNO_SETTLING_COUNT_MASK);
  return loaded != 0 ? loaded : (uint16_t)1;
}

/* One row of the board's range table (varno_board_map.h). */
struct VarnoRange {
  uint16_t code;
  uint8_t gainByte;
  float fullScale;
  uint16_t settling;
};

#define DREMOR_RANGE_ROW(code, gain, fullScale, settling) {code, gain, fullScale, settling},
static constexpr VarnoRange kVarnoRanges[] = {VARNO_RANGE_TABLE(DREMOR_RANGE_ROW)};
#undef DREMOR_RANGE_ROW

/* The row of configuration code `code`, or nullptr when it has none. */
static inline const VarnoRange* VarnoRangeOf(uint16_t code) {
  for (const VarnoRange& row : kVarnoRanges) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

/* A code without a row gets the longest wait of the table: its gain is
 * unknown, so assume the slowest. */
static constexpr uint16_t VarnoLongestSettling() {
  uint16_t longest = 0;
  for (const VarnoRange& row : kVarnoRanges) {
    if (row.settling > longest) longest = row.settling;
  }
  return uint16_t(VARNO_SETTLING_CLOCKS_PER_STEP * longest);
}

/* volts[i] = ((words[i] AND 0x0FFF) - 2048) / 2048 x range, rounded once to
 * single precision, for i < count.
 *
 * Done in single precision, and still bit-identical to forming the value in
 * double precision and rounding once:
 *  - range x (1/2048) is exact in single precision: a power-of-two scale of
 *    a value whose exponent stays far from the subnormals (every range of the
 *    table is at least 0.01);
 *  - (code - 2048) lies in -2048..2047 and is exact as a float;
 *  - the exact product of an integer of at most 12 significant bits and a
 *    24-bit significand has at most 36 bits, so the single multiply rounds
 *    that exact product once, to nearest, exactly as the conversion of the
 *    (exact, 53-bit) double product to single does. A NaN range gives NaN
 *    either way.
 * On x87 the product is formed exactly in the 64-bit significand and rounded
 * once when stored, with the same result.
 *
 * Two loops do this. The scalar loop converts one sample at a time with the
 * FPU the target has (x87 on a 32-bit x86 build for older processors). The
 * SSE2 loop converts four samples per instruction, 16 a round, without a
 * double multiply or an int-to-float conversion per sample: 0x4B00 above the
 * 12-bit code makes the bits of the float 2^23 + code (the code sits in the
 * significand), and subtracting 2^23 + 2048 (a float too) leaves code - 2048
 * exactly, both operands lying in [2^23, 2^24). The multiply is the one
 * rounding, as above; the scalar loop converts the remaining samples. Both
 * give the same bits for every code under every range.
 *
 * DremorWordsToVolts takes the SSE2 loop where the processor has SSE2: always
 * on x86-64 and on builds for SSE2; on a 32-bit build for older processors
 * (the shipped DLL), after one CPUID check at its first call, so that the DLL
 * still loads and converts on a processor without SSE2. */
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define DREMOR_SSE2_LOOP 1
#define DREMOR_SSE2_CHECKED_AT_RUN_TIME 0
#define DREMOR_TARGET_SSE2
#elif defined(__i386__) && defined(__GNUC__)
#define DREMOR_SSE2_LOOP 1
#define DREMOR_SSE2_CHECKED_AT_RUN_TIME 1
#define DREMOR_TARGET_SSE2 __attribute__((target("sse2")))
#include <cpuid.h>
#else
#define DREMOR_SSE2_LOOP 0
#endif

/* volts[i] for i below `count`, one sample at a time; `step` is range x
 * 1/2048. */
static inline void WordsToVoltsScalar(const uint16_t* words, float* volts, uint32_t count, float step) {
  for (uint32_t i = 0; i < count; ++i) {
    volts[i] = (float)((int32_t)(words[i] & VARNO_AD_CODE_MASK) - VARNO_AD_MID_SCALE) * step;
  }
}

#if DREMOR_SSE2_LOOP
#include <emmintrin.h>

/* Four codes from the 16-bit lanes of `codes` (low or high half) in volts. */
#define DREMOR_FOUR_VOLTS(unpack, codes) \
  _mm_mul_ps(_mm_sub_ps(_mm_castsi128_ps(unpack(codes, exponent)), bias), scale)

DREMOR_TARGET_SSE2 static inline void WordsToVoltsSse2(const uint16_t* words, float* volts, uint32_t count,
                                                       float step) {
  const __m128i mask = _mm_set1_epi16((short)VARNO_AD_CODE_MASK);
  const __m128i exponent = _mm_set1_epi16(0x4B00);       /* high half of the float 2^23 */
  const __m128 bias = _mm_set1_ps(8388608.0f + 2048.0f); /* 2^23 + mid-scale */
  const __m128 scale = _mm_set1_ps(step);
  uint32_t i = 0;
  for (; count - i >= 16; i += 16) {
    const __m128i a = _mm_and_si128(_mm_loadu_si128((const __m128i*)(words + i)), mask);
    const __m128i b = _mm_and_si128(_mm_loadu_si128((const __m128i*)(words + i + 8)), mask);
    _mm_storeu_ps(volts + i, DREMOR_FOUR_VOLTS(_mm_unpacklo_epi16, a));
    _mm_storeu_ps(volts + i + 4, DREMOR_FOUR_VOLTS(_mm_unpackhi_epi16, a));
    _mm_storeu_ps(volts + i + 8, DREMOR_FOUR_VOLTS(_mm_unpacklo_epi16, b));
    _mm_storeu_ps(volts + i + 12, DREMOR_FOUR_VOLTS(_mm_unpackhi_epi16, b));
  }
  WordsToVoltsScalar(words + i, volts + i, count - i, step);
}

#undef DREMOR_FOUR_VOLTS
#endif

/* Whether this processor runs the SSE2 loop. */
static inline bool CpuHasSse2() {
#if !DREMOR_SSE2_LOOP
  return false;
#elif DREMOR_SSE2_CHECKED_AT_RUN_TIME
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE2) != 0;
#else
  return true;
#endif
}

static inline void DremorWordsToVolts(const uint16_t* words, float* volts, uint32_t count, float range) {
  const float step = range * VARNO_AD_STEP;
#if DREMOR_SSE2_LOOP
  static const bool sse2 = CpuHasSse2();  // checked once, at the first call
  if (sse2) {
    WordsToVoltsSse2(words, volts, count, step);
    return;
  }
#endif
  WordsToVoltsScalar(words, volts, count, step);
}

#endif
