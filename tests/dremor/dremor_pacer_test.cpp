// Dremor's pacer-clocked blocks on the bench: counter 0 paces the converter,
// the library follows the end-of-conversion flag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "dremor_fixture.h"

namespace daqtest {
namespace {

using daqsim::AccessDir;

constexpr uint16_t kIo = kSelectedIo;

using PacerSlots = uint16_t(DREMOR_CALL*)(void*, uint32_t, uint32_t);

// Both block operations, run into an array of 16-bit words (codes) or of
// floats (volts); `stored(i)` says whether element i was written.
struct PacerOp {
  const char* name;
  bool volts;
};
constexpr PacerOp kPacerOps[] = {{"VARNO_AdsPacerHex", false}, {"VARNO_AdsPacer", true}};

class PacerTest : public DremorTest {
 protected:
  static constexpr size_t kMax = 1024;

  void SetUp() override {
    DremorTest::SetUp();
    board = &SelectedBoard();
    std::fill(std::begin(codes), std::end(codes), kUntouched);
    std::fill(std::begin(volts), std::end(volts), Untouched());
  }
  static float Untouched() { return UntouchedFloat(); }
  uint16_t Run(const PacerOp& op, uint32_t countSlot, uint32_t divisorSlot) {
    void* buffer = op.volts ? static_cast<void*>(volts) : static_cast<void*>(codes);
    auto fn = op.volts ? SlotCast<PacerSlots>(api.VARNO_AdsPacer) : SlotCast<PacerSlots>(api.VARNO_AdsPacerHex);
    return fn(buffer, countSlot, divisorSlot);
  }
  bool Stored(const PacerOp& op, size_t i) const {
    if (!op.volts) return codes[i] != kUntouched;
    return Bits(volts[i]) != kFloatUntouched;
  }
  // The trace ends with the pacer parked: count 1 loaded into counter 0.
  static bool EndsParked(const std::vector<Named>& trace) {
    const std::vector<Named> park = {W8(kIo + 0x0C, 0x34, "CounterControl"), W8(kIo + 0x00, 0x01, "Counter0"),
                                     W8(kIo + 0x00, 0x00, "Counter0")};
    return trace.size() >= 3 && std::equal(park.begin(), park.end(), trace.end() - 3);
  }

  MultifunctionBoard* board = nullptr;
  uint16_t codes[kMax];
  float volts[kMax];
};

// A 250 Hz sine of 4 V peak sampled at 10 kHz for 0.1 s, with the pacer
// clocked in different ways: the codes come back at the pacer's spacing with
// the sine's frequency and amplitude.
TEST_F(PacerTest, BlockSamplesAKnownSineAtThePacerRate) {
  constexpr double kSineHz = 250.0, kPeak = 4.0;
  constexpr uint16_t kCount = 1000;
  board->SetSignal(2, daqsim::Signal::Sine(kPeak, kSineHz, 10.0));
  ASSERT_EQ(api.VARNO_SetChannelConfig(2, 0), DREMOR_OK);  // +-10 V
  const struct {
    uint32_t clockHz;
    uint32_t divisorSlot;  // the counter takes the low 16 bits
    uint64_t spacingNs;
  } cases[] = {
      {4000000, 400, 100000},
      {1000000, 100, 100000},
      {4000000, 0x00010190, 100000},
      {2000000, 0xFFFF00C8, 100000},
  };
  for (const PacerOp& op : kPacerOps) {
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << op.name << ", " << c.clockHz << " Hz, divisor slot 0x" << std::hex
                                        << c.divisorSlot);
      board->SetCounterClockHz(c.clockHz);
      board->ClearConversionLog();
      bench().ClearTrace();
      ASSERT_EQ(Run(op, 0xABCD0000u | kCount, c.divisorSlot), DREMOR_OK);
      const std::vector<Named> trace = NamedTrace();
      EXPECT_EQ(trace[1], W8(kIo + 0x00, uint8_t(c.divisorSlot), "Counter0"));
      EXPECT_EQ(trace[2], W8(kIo + 0x00, uint8_t(c.divisorSlot >> 8), "Counter0"));
      EXPECT_TRUE(EndsParked(trace));
      EXPECT_TRUE(board->timer().Parked(0));

      // Every conversion the pacer started was read, in order, at the
      // spacing divisor / clock.
      const auto log = board->conversionLog();
      ASSERT_EQ(log.size(), kCount);
      std::vector<int> got(kCount);
      for (size_t i = 0; i < kCount; ++i) {
        const int code = log[i].word & 0x0FFF;
        EXPECT_TRUE(log[i].pacer);
        if (i > 0) {
          EXPECT_EQ(log[i].triggerNs - log[i - 1].triggerNs, c.spacingNs) << i;
        }
        if (op.volts) {
          EXPECT_EQ(volts[i], float((code - 2048) / 2048.0 * 10.0)) << i;
          got[i] = int(std::lround(volts[i] / 10.0 * 2048)) + 2048;
        } else {
          EXPECT_EQ(codes[i], code) << i;
          got[i] = codes[i];
        }
      }
      EXPECT_FALSE(Stored(op, kCount)) << "nothing beyond the block";

      // Frequency: 25 upward zero crossings in 0.1 s; amplitude: 4 V peak.
      int crossings = 0;
      for (size_t i = 1; i < kCount; ++i) crossings += got[i - 1] < 2048 && got[i] >= 2048;
      const double seconds = double(kCount) * double(c.spacingNs) * 1e-9;
      EXPECT_NEAR(crossings / seconds, kSineHz, 1.0 / seconds);
      const auto [lo, hi] = std::minmax_element(got.begin(), got.end());
      const double peak = (*hi - *lo) / 2.0 * 10.0 / 2048;
      EXPECT_NEAR(peak, kPeak, 0.02);
    }
  }
}

// count 0: the pacer is started, the mode written, the pacer parked; no
// register is read and the array is untouched.
TEST_F(PacerTest, CountZeroStartsAndParksThePacerAndReadsNothing) {
  for (const PacerOp& op : kPacerOps) {
    SCOPED_TRACE(op.name);
    bench().ClearTrace();
    EXPECT_EQ(Run(op, 0x12340000u, 0x00AB0102u), DREMOR_OK);
    EXPECT_EQ(NamedTrace(), (std::vector<Named>{
                                W8(kIo + 0x0C, 0x34, "CounterControl"),
                                W8(kIo + 0x00, 0x02, "Counter0"),
                                W8(kIo + 0x00, 0x01, "Counter0"),
                                W8(kIo + 0x18, 0x00, "AdModeControl"),
                                W8(kIo + 0x0C, 0x34, "CounterControl"),
                                W8(kIo + 0x00, 0x01, "Counter0"),
                                W8(kIo + 0x00, 0x00, "Counter0"),
                            }));
    EXPECT_FALSE(Stored(op, 0));
  }
}

// A divisor whose low 16 bits are 0 is 65536 clocks to the 8254.
TEST_F(PacerTest, DivisorZeroPacesAt65536Clocks) {
  board->ClearConversionLog();
  bench().ClearTrace();
  ASSERT_EQ(Run(kPacerOps[0], 3, 0x00050000u), DREMOR_OK);
  const auto trace = NamedTrace();
  EXPECT_EQ(trace[1], W8(kIo + 0x00, 0x00, "Counter0"));
  EXPECT_EQ(trace[2], W8(kIo + 0x00, 0x00, "Counter0"));
  const auto log = board->conversionLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].triggerNs - log[0].triggerNs, 65536u * 250u);
  EXPECT_EQ(log[2].triggerNs - log[1].triggerNs, 65536u * 250u);
}

// The two edge waits: each sample is a low-then-high cycle of the flag, and
// the result is read right after the first read that shows it high.
TEST_F(PacerTest, EachSampleWaitsForTheFlagToFallThenRise) {
  bench().ClearTrace();
  ASSERT_EQ(Run(kPacerOps[0], 2, 80), DREMOR_OK);  // 20 us at 4 MHz; a conversion takes 8
  const auto trace = NamedTrace();
  EXPECT_EQ(trace[3], W8(kIo + 0x18, 0x00, "AdModeControl"));
  size_t i = 4;
  for (int sample = 0; sample < 2; ++sample) {
    SCOPED_TRACE(sample);
    size_t high = 0, low = 0;
    while (trace[i].reg == "AdStatus" && (trace[i].access.value & 1)) ++high, ++i;
    while (trace[i].reg == "AdStatus" && !(trace[i].access.value & 1)) ++low, ++i;
    EXPECT_GE(high, 1u) << "the flag was high after the previous sample";
    EXPECT_GE(low, 1u) << "then fell";
    ASSERT_EQ(trace[i].reg, "AdStatus");
    EXPECT_EQ(trace[i].access.value & 1, 1u) << "and rose";
    EXPECT_EQ(trace[i + 1].reg, "AdData");
    EXPECT_EQ(trace[i + 1].access.dir, AccessDir::kRead);
    EXPECT_EQ(trace[i + 1].access.width, 2);
    i += 2;
  }
  EXPECT_EQ(i + 3, trace.size()) << "then only the parking";
}

// Time-outs: 5 after 65531 reads of one edge wait; the samples before stay,
// the rest of the array is untouched, and the pacer is left running.
TEST_F(PacerTest, TimeOutsKeepEarlierSamplesAndLeaveThePacerRunning) {
  enum class Fault { kStuckHigh, kNeverFinishes, kClockStopped, kHangsAfterThree };
  const struct {
    Fault fault;
    const char* name;
    size_t kept;
    bool highToTheEnd;  // the 65531 reads all showed 1 (the falling wait ran out)
  } cases[] = {
      {Fault::kStuckHigh, "flag stuck high", 0, true},
      {Fault::kNeverFinishes, "converter never finishes", 0, false},
      {Fault::kClockStopped, "counter clock stopped", 0, true},
      {Fault::kHangsAfterThree, "converter hangs after three samples", 3, false},
  };
  constexpr uint16_t kDivisor = 400;  // 100 us
  for (const PacerOp& op : kPacerOps) {
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << op.name << ", " << c.name);
      api = DremorApi{};  // unload first, so that the reload starts from the load state
      SetUp();                     // a fresh bench and library each time
      switch (c.fault) {
        case Fault::kStuckHigh: board->SetEocStuckHigh(true); break;
        case Fault::kNeverFinishes: board->SetConverterNeverFinishes(true); break;
        case Fault::kClockStopped: board->SetCounterClockStopped(true); break;
        case Fault::kHangsAfterThree: board->SetConverterNeverFinishesAt(bench().NowNs() + 350000); break;
      }
      bench().ClearTrace();
      EXPECT_EQ(Run(op, 10, kDivisor), DREMOR_ERR_AD_TIMEOUT);
      for (size_t i = 0; i < 12; ++i) EXPECT_EQ(Stored(op, i), i < c.kept) << i;

      const auto& trace = bench().trace();
      ASSERT_GE(trace.size(), 65531u);
      size_t run = 0;
      for (auto it = trace.rbegin(); it != trace.rend() && it->port == kIo + 0x10; ++it) {
        if (((it->value & 1) != 0) != c.highToTheEnd) break;
        ++run;
      }
      // The last wait read the flag 65531 times; a rising wait follows the
      // falling wait's own last read, which showed the flag low as well.
      EXPECT_EQ(run, c.highToTheEnd ? 65531u : 65532u);
      EXPECT_FALSE(EndsParked(NamedTrace()));
      EXPECT_FALSE(board->timer().Parked(0));
      EXPECT_EQ(board->timer().Status(0, bench().NowNs()) & 0x0E, 0x04) << "still mode 2";
      // Counter 0 still holds the divisor: it goes on pacing (unless its
      // clock is stopped).
      if (c.fault != Fault::kClockStopped) {
        const uint64_t next = board->timer().NextOutRisingEdge(0, bench().NowNs());
        EXPECT_EQ(board->timer().NextOutRisingEdge(0, next), next + kDivisor * 250u);
      }
    }
  }
}

// The first falling-edge wait with the flag stuck high: exactly 65531 status
// reads after the start of the block, nothing else.
TEST_F(PacerTest, StuckFlagEndsTheBlockAfterExactly65531Reads) {
  board->SetEocStuckHigh(true);
  bench().ClearTrace();
  EXPECT_EQ(Run(kPacerOps[0], 5, 400), DREMOR_ERR_AD_TIMEOUT);
  EXPECT_EQ(bench().trace().size(), 4u + 65531u);
}

}  // namespace
}  // namespace daqtest
