// Dremor's A/D configuration, settling wait and software-triggered
// conversions on the bench's converter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "dremor_fixture.h"
#include "varno_ranges.h"

namespace daqtest {
namespace {

using daqsim::AccessDir;
using daqsim::PortAccess;

constexpr uint16_t kIo = kSelectedIo;
constexpr uint64_t kIoCycle = daqsim::Clock::kIoCycleNs;

// The volts of `code` on +-range, by another road than the library's: the
// range as an integer mantissa and a power of two, the product in integers
// (exact), scaled and rounded once to single precision.
float ExpectedVolts(int code, float range) {
  int exponent = 0;
  const double fraction = std::frexp(double(range), &exponent);
  const int64_t mantissa = int64_t(std::ldexp(fraction, 24));
  const int64_t product = int64_t(code - 2048) * mantissa;
  return float(std::ldexp(double(product), exponent - 24 - 11));
}

// A DC input that the board converts to `code` on a +-range input.
daqsim::Signal DcForCode(int code, double range) { return daqsim::Signal::Dc((code - 2048) / 2048.0 * range); }

size_t CountReads(const std::vector<PortAccess>& trace, uint16_t port) {
  size_t n = 0;
  for (const auto& a : trace) n += a.dir == AccessDir::kRead && a.port == port;
  return n;
}

// ---- Configuration and settling -------------------------------------------------------

TEST_F(DremorTest, SetChannelConfigWritesChannelAndGainThenPollsCounterTwo) {
  MultifunctionBoard& board = SelectedBoard();
  using Slots = uint16_t(DREMOR_CALL*)(uint32_t, uint32_t);
  EXPECT_EQ(SlotCast<Slots>(api.VARNO_SetChannelConfig)(0xABCD0105u, 0x12340012u), DREMOR_OK);

  const std::vector<Named> trace = NamedTrace();
  const std::vector<Named> head = {
      W8(kIo + 0x10, 0x05, "ChannelSelect"), W8(kIo + 0x14, 0x12, "GainControl"),
      W8(kIo + 0x0C, 0xB0, "CounterControl"), W8(kIo + 0x08, 0x30, "Counter2"), W8(kIo + 0x08, 0x02, "Counter2"),
      W8(kIo + 0x0C, 0x80, "CounterControl"),
  };
  ASSERT_GT(trace.size(), head.size() + 2);
  EXPECT_EQ(std::vector<Named>(trace.begin(), trace.begin() + head.size()), head);
  // Two discarded reads, then polls of three accesses each until the high
  // byte shows bit 7; only the last poll shows it.
  for (size_t i : {head.size(), head.size() + 1}) {
    EXPECT_EQ(trace[i].access.dir, AccessDir::kRead);
    EXPECT_EQ(trace[i].reg, "Counter2");
  }
  const size_t polls = (trace.size() - head.size() - 2) / 3;
  ASSERT_EQ(head.size() + 2 + 3 * polls, trace.size());
  ASSERT_GE(polls, 1u);
  for (size_t p = 0; p < polls; ++p) {
    const size_t at = head.size() + 2 + 3 * p;
    EXPECT_EQ(trace[at], W8(kIo + 0x0C, 0x80, "CounterControl"));
    EXPECT_EQ(trace[at + 1].access.dir, AccessDir::kRead);
    EXPECT_EQ(trace[at + 1].reg, "Counter2");
    EXPECT_EQ(trace[at + 2].access.dir, AccessDir::kRead);
    EXPECT_EQ(trace[at + 2].reg, "Counter2");
    EXPECT_EQ((trace[at + 2].access.value & 0x80) != 0, p + 1 == polls) << "poll " << p;
  }
  EXPECT_EQ(board.converter().ChannelSelectByte(), 0x05);
  EXPECT_EQ(board.converter().GainByte(), 0x12);
  const uint8_t status = board.timer().Status(2, bench().NowNs());
  EXPECT_EQ(status & 0x3F, 0x30) << "counter 2 left in mode 0";
  EXPECT_TRUE(status & 0x80) << "and past its terminal count";
}

// An independent model of the counter clock: edge k (k >= 1) of a clock of
// `hz` started at `start` comes at start + ceil(k * 1e9 / hz).
struct ClockEdges {
  uint64_t start;
  uint64_t hz;
  uint64_t At(uint64_t k) const { return start + (k * 1000000000u + hz - 1) / hz; }
  // The number of the first edge strictly after t.
  uint64_t FirstAfter(uint64_t t) const {
    uint64_t k = t <= start ? 1 : (t - start) * hz / 1000000000u;
    while (k > 1 && At(k - 1) > t) --k;
    while (At(k) <= t) ++k;
    return k;
  }
};

// The wait ends at the first poll after count + 2 clock periods from the
// count's write: the load edge, count edges down to 0, one more to 0xFFFF.
TEST_F(DremorTest, SettlingEndsAtTheFirstPollAfterCountPlusTwoClockPeriods) {
  MultifunctionBoard& board = SelectedBoard();
  const struct {
    uint16_t code;
    uint32_t hz;
  } cases[] = {
      {0, 4000000},      {1, 4000000},      {2, 4000000},  {3, 4000000},      {16, 4000000},  {17, 4000000},
      {18, 4000000},     {19, 4000000},     {18, 1000000}, {17, 3000000},     {18, 7000000},  {0, 250000},
      {0x0113, 4000000}, {0x0104, 4000000}, {4, 4000000},  {0xFFFF, 1000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "code " << c.code << " at " << c.hz << " Hz");
    const uint64_t clockSet = bench().NowNs();
    board.SetCounterClockHz(c.hz);
    bench().ClearTrace();
    ASSERT_EQ(api.VARNO_SetChannelConfig(0, c.code), DREMOR_OK);
    const auto& trace = bench().trace();
    ASSERT_GT(trace.size(), 11u);
    const uint16_t count = ExpectedSettling(c.code);
    EXPECT_EQ(trace[3].value | trace[4].value << 8, count) << "the count loaded";
    // Writes reach the board at the end of their I/O cycle.
    const ClockEdges clock{clockSet, c.hz};
    const uint64_t wrapsAt = clock.At(clock.FirstAfter(trace[4].timeNs + kIoCycle) + count + 1);
    const PortAccess& lastLatch = trace[trace.size() - 3];
    const PortAccess& lastButOne = trace[trace.size() - 6];
    EXPECT_GE(lastLatch.timeNs + kIoCycle, wrapsAt);
    EXPECT_LT(lastButOne.timeNs + kIoCycle, wrapsAt);
    // The span itself: count + 2 periods, give or take a poll of 3 us.
    const double periods = double(wrapsAt - (trace[4].timeNs + kIoCycle)) * c.hz / 1e9;
    EXPECT_GT(periods, count + 0.99);
    EXPECT_LT(periods, count + 2.01);
  }
}

TEST_F(DremorTest, SettlingGivesUpAfter32767PollsWhenTheCounterClockIsStopped) {
  MultifunctionBoard& board = SelectedBoard();
  board.SetCounterClockStopped(true);
  EXPECT_EQ(api.VARNO_SetChannelConfig(2, 17), DREMOR_OK);
  const auto& trace = bench().trace();
  EXPECT_EQ(trace.size(), 2u + 3u + 3u + 3u * 32767u);
  EXPECT_EQ(trace.back().value & 0x80, 0u);
  EXPECT_EQ(board.converter().GainByte(), 0x11) << "the configuration stands";
}

// ---- Polled conversions -------------------------------------------------------------------

struct PolledOp {
  const char* name;
  uint8_t triggerWidth;
  // Runs the operation; `out` receives what it wrote (code or volts), as a
  // float, or stays NaN.
  std::function<uint16_t(DremorApi&, float* out)> run;
};

std::vector<PolledOp> PolledOps() {
  return {
      {"VARNO_Polling", 2,
       [](DremorApi& api, float* out) {
         uint16_t code = kUntouched;
         const uint16_t status = api.VARNO_Polling(&code);
         if (code != kUntouched) *out = float(code);
         return status;
       }},
      {"VARNO_AdPolling", 1, [](DremorApi& api, float* out) { return api.VARNO_AdPolling(out); }},
      {"VARNO_AdsPolling", 1, [](DremorApi& api, float* out) { return api.VARNO_AdsPolling(out, 1); }},
  };
}

TEST_F(DremorTest, PolledConversionTriggersWaitsAndKeepsTwelveBits) {
  MultifunctionBoard& board = SelectedBoard();
  board.SetSignal(0, daqsim::Signal::Dc(0.0));  // AdData 0xF800: code 2048, bits 12-15 set
  for (const PolledOp& op : PolledOps()) {
    SCOPED_TRACE(op.name);
    bench().ClearTrace();
    float out = std::numeric_limits<float>::quiet_NaN();
    ASSERT_EQ(op.run(api, &out), DREMOR_OK);
    EXPECT_EQ(out, op.triggerWidth == 2 ? 2048.0f : 0.0f);
    const std::vector<Named> trace = NamedTrace();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace.front(), (Named{Out(op.triggerWidth, kIo + 0x1C, 0), "SoftwareTrigger"}));
    EXPECT_EQ(trace.back(), (Named{In(2, kIo + 0x30, 0xF800), "AdData"}));
    for (size_t i = 1; i + 1 < trace.size(); ++i) {
      EXPECT_EQ(trace[i].reg, "AdStatus");
      EXPECT_EQ(trace[i].access.value & 1, i + 2 == trace.size() ? 1u : 0u);
    }
  }
  EXPECT_EQ(board.converter().Counters(bench().NowNs()).started, 3u);
}

TEST_F(DremorTest, PolledConversionsTimeOutAfterExactly65531StatusReads) {
  MultifunctionBoard& board = SelectedBoard();
  board.SetConverterNeverFinishes(true);
  for (const PolledOp& op : PolledOps()) {
    SCOPED_TRACE(op.name);
    bench().ClearTrace();
    float out = -7.0f;
    EXPECT_EQ(op.run(api, &out), DREMOR_ERR_AD_TIMEOUT);
    EXPECT_EQ(out, -7.0f) << "output untouched";
    EXPECT_EQ(bench().trace().size(), 1u + 65531u);
    EXPECT_EQ(CountReads(bench().trace(), kIo + 0x10), 65531u);
    EXPECT_EQ(CountReads(bench().trace(), kIo + 0x30), 0u) << "AdData is not read";
  }
}

TEST_F(DremorTest, AdsPollingKeepsTheSamplesBeforeAFailingOne) {
  MultifunctionBoard& board = SelectedBoard();
  board.SetSignal(0, daqsim::Signal::Dc(-2.5));
  ASSERT_EQ(api.VARNO_SetChannelConfig(0, 1), DREMOR_OK);  // +-5 V
  // One sample takes 11 us (trigger, 9 status reads, data), and a trigger
  // reaches the board 1 us after its write: the converter hangs from the
  // third trigger on.
  board.SetConverterNeverFinishesAt(bench().NowNs() + 2 * 11000);
  float volts[6] = {7, 7, 7, 7, 7, 7};
  EXPECT_EQ(api.VARNO_AdsPolling(volts, 5), DREMOR_ERR_AD_TIMEOUT);
  EXPECT_EQ(board.converter().Counters(bench().NowNs()).completed, 2u);
  EXPECT_EQ(volts[0], -2.5f);
  EXPECT_EQ(volts[1], -2.5f);
  for (int i = 2; i < 6; ++i) EXPECT_EQ(volts[i], 7.0f) << i;
}

TEST_F(DremorTest, AdsPollingFillsConsecutiveFloatsAndCountZeroTouchesNothing) {
  MultifunctionBoard& board = SelectedBoard();
  board.SetSignal(4, daqsim::Signal::Triangle(0.9, 700.0));
  ASSERT_EQ(api.VARNO_SetChannelConfig(4, 17), DREMOR_OK);  // +-1 V
  bench().ClearTrace();
  float volts[4] = {7, 7, 7, 7};
  EXPECT_EQ(api.VARNO_AdsPolling(volts, 0), DREMOR_OK);
  EXPECT_TRUE(bench().trace().empty());
  EXPECT_EQ(volts[0], 7.0f);

  board.ClearConversionLog();
  using Slots = uint16_t(DREMOR_CALL*)(float*, uint32_t);
  EXPECT_EQ(SlotCast<Slots>(api.VARNO_AdsPolling)(volts, 0xFFFF0003u), DREMOR_OK);
  const auto log = board.conversionLog();
  ASSERT_EQ(log.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_FALSE(log[i].pacer);
    EXPECT_EQ(Bits(volts[i]), Bits(ExpectedVolts(log[i].word & 0x0FFF, 1.0f))) << i;
  }
  EXPECT_NE(volts[0], volts[2]) << "the triangle moved between samples";
  EXPECT_EQ(volts[3], 7.0f);
}

// ---- Code to volts --------------------------------------------------------------------------

TEST_F(DremorTest, EveryCodeUnderEveryRangeConvertsBitExactly) {
  MultifunctionBoard& board = SelectedBoard();
  bench().SetTraceEnabled(false);
  for (const ExpectedRange& row : kExpectedRanges) {
    SCOPED_TRACE(::testing::Message() << "configuration code " << row.code);
    ASSERT_EQ(api.VARNO_SetChannelConfig(0, row.code), DREMOR_OK);
    ASSERT_EQ(board.converter().RangeVolts(), double(row.fullScale)) << "board and library agree on the range";
    unsigned mismatches = 0;
    for (int code = 0; code < 4096; ++code) {
      board.SetSignal(0, DcForCode(code, row.fullScale));
      float volts = std::numeric_limits<float>::quiet_NaN();
      ASSERT_EQ(api.VARNO_AdPolling(&volts), DREMOR_OK);
      if (Bits(volts) != Bits(ExpectedVolts(code, row.fullScale)) && ++mismatches <= 5) {
        ADD_FAILURE() << "code " << code << ": " << volts << " vs " << ExpectedVolts(code, row.fullScale);
      }
    }
    EXPECT_EQ(mismatches, 0u);
  }
}

TEST_F(DremorTest, NamedConversionValues) {
  MultifunctionBoard& board = SelectedBoard();
  auto volts = [&](uint16_t config, int code) {
    api.VARNO_SetChannelConfig(0, config);
    board.SetSignal(0, DcForCode(code, board.converter().RangeVolts()));
    float v = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(api.VARNO_AdPolling(&v), DREMOR_OK);
    return v;
  };
  for (uint16_t config : {uint16_t(0), uint16_t(16)}) {
    EXPECT_EQ(volts(config, 0), -10.0f);
    EXPECT_EQ(volts(config, 2048), 0.0f);
    EXPECT_EQ(volts(config, 4095), 9.9951171875f);
  }
  EXPECT_EQ(Bits(0.1f), 0x3DCCCCCDu);
  EXPECT_EQ(Bits(0.01f), 0x3C23D70Au);
  EXPECT_EQ(Bits(volts(18, 0)), 0xBDCCCCCDu) << "exactly -0.1f";
  const float top = volts(18, 4095);
  EXPECT_EQ(top, float(2047.0 / 2048.0 * double(0.1f)));
  EXPECT_NEAR(double(top), 0.0999511704, 5e-11);
  EXPECT_EQ(Bits(volts(19, 0)), 0xBC23D70Au) << "exactly -0.01f";
  EXPECT_EQ(volts(1, 1), -5.0f + 5.0f / 2048);
}

// Codes without a range: the longest settling, and the range of the byte
// that reached GainControl when it has one, else NaN.
TEST_F(DremorTest, CodesWithoutARangeSettleLongestAndConvertByTheirGainByte) {
  MultifunctionBoard& board = SelectedBoard();
  for (const uint16_t code : kCodesWithoutARow) {
    SCOPED_TRACE(::testing::Message() << std::hex << "code 0x" << code);
    const float range = ExpectedFullScale(code);  // NaN: no reading in volts
    bench().ClearTrace();
    ASSERT_EQ(api.VARNO_SetChannelConfig(0, code), DREMOR_OK);
    const auto& trace = bench().trace();
    ASSERT_GT(trace.size(), 5u);
    EXPECT_EQ(trace[1].value, code & 0xFF);
    EXPECT_EQ(trace[3].value | trace[4].value << 8, kLongestSettling);
    const double boardRange = board.converter().RangeVolts();
    board.SetSignal(0, DcForCode(1000, boardRange));

    float one = 0, many[2] = {0, 0}, paced[2] = {0, 0};
    uint16_t raw = 0, rawPaced[2] = {0, 0};
    ASSERT_EQ(api.VARNO_AdPolling(&one), DREMOR_OK);
    ASSERT_EQ(api.VARNO_AdsPolling(many, 2), DREMOR_OK);
    ASSERT_EQ(api.VARNO_AdsPacer(paced, 2, 40), DREMOR_OK);
    ASSERT_EQ(api.VARNO_Polling(&raw), DREMOR_OK);
    ASSERT_EQ(api.VARNO_AdsPacerHex(rawPaced, 2, 40), DREMOR_OK);
    EXPECT_EQ(raw, 1000) << "codes come back under any configuration";
    EXPECT_EQ(rawPaced[1], 1000);
    for (float v : {one, many[0], many[1], paced[0], paced[1]}) {
      if (std::isnan(range)) {
        EXPECT_TRUE(std::isnan(v)) << v;
        EXPECT_EQ(Bits(v) & 0x7FC00000u, 0x7FC00000u) << "a quiet NaN";
      } else {
        EXPECT_EQ(Bits(v), Bits(ExpectedVolts(1000, range)));
      }
    }
  }
}

}  // namespace
}  // namespace daqtest
