// The two loops that convert sample words to volts: the SSE2 loop and the
// scalar loop (x87 in the 32-bit DLL for processors without SSE2). Which one
// runs is the processor's choice, so the exports can reach only one of them
// on a given machine: this test calls both directly and holds them to the
// same bits, for every 12-bit code under every range, whatever bits 12-15
// hold, and to the conversion computed the long way.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dremor_internal.h"
#include "slot_cast.h"
#include "varno_ranges.h"

namespace daqtest {
namespace {

// (code - 2048) x 1/2048 x range in double precision (exact), rounded once.
float LongWayVolts(int code, float range) { return float((double(code) - 2048.0) / 2048.0 * double(range)); }

TEST(DremorConversionLoops, BothLoopsGiveTheSameBitsForEveryCodeUnderEveryRange) {
  // Every code twice over, with bits 12-15 varying, and a count that leaves a
  // tail for the scalar end of the SSE2 loop.
  std::vector<uint16_t> words;
  for (int pass = 0; pass < 2; ++pass) {
    for (int code = 0; code < 4096; ++code) words.push_back(uint16_t(code | (((code * 7 + pass) & 0xF) << 12)));
  }
  words.resize(words.size() - 5);
  const uint32_t n = uint32_t(words.size());

  std::vector<float> ranges;
  for (const ExpectedRange& r : kExpectedRanges) ranges.push_back(r.fullScale);
  ranges.push_back(std::numeric_limits<float>::quiet_NaN());  // a code without a range

  for (const float range : ranges) {
    SCOPED_TRACE(::testing::Message() << "range " << range);
    const float step = range * VARNO_AD_STEP;
    std::vector<float> scalar(n + 1, -1.0f), sse2(n + 1, -1.0f);
    WordsToVoltsScalar(words.data(), scalar.data(), n, step);
    EXPECT_EQ(scalar[n], -1.0f) << "nothing written beyond the count";
#if DREMOR_SSE2_LOOP
    ASSERT_TRUE(CpuHasSse2()) << "the machines the tests run on have SSE2";
    WordsToVoltsSse2(words.data(), sse2.data(), n, step);
    EXPECT_EQ(sse2[n], -1.0f) << "nothing written beyond the count";
#else
    sse2 = scalar;
#endif
    unsigned mismatches = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const int code = words[i] & 0x0FFF;
      const float want = LongWayVolts(code, range);
      const bool nan = std::isnan(range);
      const bool same = nan ? std::isnan(scalar[i]) && std::isnan(sse2[i])
                            : Bits(scalar[i]) == Bits(want) && Bits(sse2[i]) == Bits(want);
      if (!same && ++mismatches <= 5) {
        ADD_FAILURE() << "code " << code << ": scalar " << scalar[i] << ", SSE2 " << sse2[i] << ", want " << want;
      }
    }
    EXPECT_EQ(mismatches, 0u);
  }
}

}  // namespace
}  // namespace daqtest
