#include "daqsim/i8254.h"

#include <gtest/gtest.h>

#include <vector>

namespace daqsim {
namespace {

constexpr uint64_t kUs = 1000;  // one CLK period at 1 MHz: edge k happens at k us
constexpr uint64_t kNever = I8254::kNever;

// Control word (LSB then MSB, binary, given mode) and both count bytes, all at `now`.
void Program(I8254& t, int c, int mode, uint16_t count, uint64_t now) {
  t.Write(3, uint8_t(c << 6 | 0x30 | mode << 1), now);
  t.Write(c, uint8_t(count), now);
  t.Write(c, uint8_t(count >> 8), now);
}

// Counter-latch command followed by two reads, as the settling wait does.
uint16_t LatchedCount(I8254& t, int c, uint64_t now) {
  t.Write(3, uint8_t(c << 6), now);
  const uint8_t lo = t.Read(c, now);
  return uint16_t(lo | t.Read(c, now) << 8);
}

TEST(I8254, CountLoadsOnFirstEdgeAfterSecondByte) {
  struct Case { uint64_t msb_ns, load_ns; };
  for (const Case k : {Case{1, 1 * kUs}, Case{999, 1 * kUs}, Case{1000, 2 * kUs},
                       Case{1500, 2 * kUs}, Case{7000, 8 * kUs}}) {
    SCOPED_TRACE(k.msb_ns);
    I8254 t(1'000'000);
    t.Write(3, 0x74, 0);  // counter 1, mode 2
    t.Write(1, 100, 0);
    t.Write(1, 0, k.msb_ns);
    EXPECT_EQ(t.Value(1, k.load_ns - 1), 0);  // element still holds its old content
    EXPECT_TRUE(t.Status(1, k.load_ns - 1) & 0x40);  // null count until the transfer
    EXPECT_EQ(t.Value(1, k.load_ns), 100);
    EXPECT_FALSE(t.Status(1, k.load_ns) & 0x40);
    EXPECT_EQ(t.Value(1, k.load_ns + 37 * kUs), 63);
  }
}

TEST(I8254, Mode0RisesAfterCountClocksAndWrapsSoBit15SetsAfterCountPlus2) {
  struct Case { uint16_t count; uint64_t clocks; };
  for (const Case k : {Case{1, 1}, Case{2, 2}, Case{560, 560}, Case{0x7FFF, 0x7FFF},
                       Case{0, 65536}}) {
    SCOPED_TRACE(k.count);
    I8254 t(1'000'000);
    Program(t, 2, 0, k.count, 500);  // load edge at 1 us
    const uint64_t rise = (k.clocks + 1) * kUs;
    EXPECT_FALSE(t.Out(2, 500));
    EXPECT_FALSE(t.Out(2, rise - 1));
    EXPECT_TRUE(t.Out(2, rise));
    EXPECT_EQ(t.Value(2, rise), 0);
    EXPECT_EQ(t.NextOutRisingEdge(2, 500), rise);
    EXPECT_EQ(t.NextOutRisingEdge(2, rise), kNever);
    if (k.count == 0) continue;
    EXPECT_FALSE(LatchedCount(t, 2, rise + kUs - 1) & 0x8000);
    EXPECT_EQ(LatchedCount(t, 2, rise + kUs), 0xFFFF);  // count + 2 periods after the write
  }
}

TEST(I8254, RateGeneratorPulsesOncePerCount) {
  struct Case { int mode; uint16_t count; uint64_t period; };
  for (const Case k : {Case{2, 2, 2}, Case{2, 5, 5}, Case{6, 5, 5}, Case{2, 0, 65536}}) {
    SCOPED_TRACE(k.count);
    I8254 t(1'000'000);
    Program(t, 0, k.mode, k.count, 0);
    EXPECT_EQ(t.Value(0, kUs), k.count);
    uint64_t after = 0;
    for (uint64_t n = 1; n <= 3; ++n) {
      const uint64_t rise = (1 + n * k.period) * kUs;
      ASSERT_EQ(t.NextOutRisingEdge(0, after), rise);
      EXPECT_TRUE(t.Out(0, rise - kUs - 1));
      EXPECT_FALSE(t.Out(0, rise - kUs));  // low for exactly one period, value 1
      EXPECT_EQ(t.Value(0, rise - kUs), 1);
      EXPECT_TRUE(t.Out(0, rise));
      EXPECT_EQ(t.Value(0, rise), k.count);  // reloaded
      after = rise;
    }
  }
}

TEST(I8254, CountOneInMode2ParksTheCounter) {
  I8254 t(1'000'000);
  Program(t, 0, 2, 5, 0);
  Program(t, 0, 2, 1, 3500);  // park while the pacer runs
  EXPECT_TRUE(t.Parked(0));
  EXPECT_EQ(t.NextOutRisingEdge(0, 3500), kNever);
  for (uint64_t ns = 3500; ns < 30 * kUs; ns += 250) ASSERT_TRUE(t.Out(0, ns)) << ns;
  EXPECT_EQ(t.Value(0, 30 * kUs), 1);
  EXPECT_EQ(t.Status(0, 30 * kUs), 0xB4);
}

TEST(I8254, SquareWaveAndStrobeLevels) {
  struct Case { int mode; uint16_t count; std::vector<int> out, value; };  // per edge from load
  for (const Case& k : {Case{3, 4, {1, 1, 0, 0, 1, 1}, {4, 2, 4, 2, 4, 2}},
                        Case{3, 5, {1, 1, 1, 0, 0, 1}, {5, 4, 2, 5, 2, 5}},
                        Case{4, 3, {1, 1, 1, 0, 1, 1}, {3, 2, 1, 0, 0xFFFF, 0xFFFE}}}) {
    SCOPED_TRACE(k.count);
    I8254 t(1'000'000);
    Program(t, 1, k.mode, k.count, 0);
    for (size_t d = 0; d < k.out.size(); ++d) {
      EXPECT_EQ(t.Out(1, (d + 1) * kUs), k.out[d] == 1) << d;
      EXPECT_EQ(t.Value(1, (d + 1) * kUs), k.value[d]) << d;
    }
  }
}

TEST(I8254, LatchFreezesUntilReadAndIgnoresSecondLatch) {
  I8254 t(1'000'000);
  Program(t, 2, 0, 1000, 0);
  t.Write(3, 0x80, 10 * kUs);               // latches 991
  EXPECT_EQ(t.Read(2, 20 * kUs), 991 & 0xFF);
  t.Write(3, 0x80, 30 * kUs);               // ignored: latch not fully read
  EXPECT_EQ(t.Read(2, 40 * kUs), 991 >> 8);
  EXPECT_EQ(LatchedCount(t, 2, 50 * kUs), 951);
  // LSB-only access: one read consumes the latch, the next one is live.
  t.Write(3, 0x90, 60 * kUs);
  t.Write(2, 200, 60 * kUs);
  t.Write(3, 0x80, 71 * kUs);
  EXPECT_EQ(t.Read(2, 80 * kUs), 190);
  EXPECT_EQ(t.Read(2, 80 * kUs), 181);
}

TEST(I8254, UnlatchedReadsAlternateAndTear) {
  I8254 t(1'000'000);
  Program(t, 0, 0, 0x0101, 0);
  EXPECT_EQ(t.Read(0, 2 * kUs), 0x00);  // LSB of 0x0100
  EXPECT_EQ(t.Read(0, 3 * kUs), 0x00);  // MSB of 0x00FF: torn pair reads 0x0000
  EXPECT_EQ(t.Read(0, 3 * kUs), 0xFF);  // LSB again
}

TEST(I8254, ControlWordResetsByteSequencing) {
  I8254 t(1'000'000);
  t.Write(3, 0x74, 0);
  t.Write(1, 0x12, 0);  // LSB of an abandoned count
  t.Write(3, 0x74, 0);
  t.Write(1, 0x34, 0);
  t.Write(1, 0x00, 0);
  EXPECT_EQ(t.Value(1, kUs), 0x0034);
  EXPECT_EQ(t.Read(1, kUs), 0x34);  // LSB; an unlatched MSB read would come next
  t.Write(3, 0x40, kUs);             // latch 0x0034
  t.Write(3, 0x74, 3 * kUs);         // drops the latch, restarts reads at the LSB
  EXPECT_EQ(t.Read(1, 3 * kUs), 0x32);
}

TEST(I8254, Mode0FirstCountByteStopsCountingAndDrivesOutLow) {
  I8254 t(1'000'000);
  Program(t, 2, 0, 5, 0);  // OUT rises at 6 us
  EXPECT_TRUE(t.Out(2, 10 * kUs));
  t.Write(2, 50, 10 * kUs);
  EXPECT_FALSE(t.Out(2, 10 * kUs));
  EXPECT_EQ(t.Value(2, 20 * kUs), 0xFFFC);  // frozen at 5 - 9
  t.Write(2, 0, 20 * kUs);
  EXPECT_EQ(t.Value(2, 21 * kUs), 50);
  EXPECT_EQ(t.NextOutRisingEdge(2, 20 * kUs), 71 * kUs);
}

TEST(I8254, ReadBackStatusThenCount) {
  struct Case { uint64_t ns; uint8_t status; uint16_t count; };
  for (const Case k : {Case{500, 0x70, 0}, Case{kUs, 0x30, 3}, Case{4 * kUs, 0xB0, 0}}) {
    SCOPED_TRACE(k.ns);
    I8254 t(1'000'000);
    Program(t, 2, 0, 3, 500);
    t.Write(3, 0xC8, k.ns);  // counter 2: latch count and status
    t.Write(3, 0xC8, k.ns + kUs);  // ignored, both still latched
    EXPECT_EQ(t.Read(2, 9 * kUs), k.status);
    EXPECT_EQ(t.Read(2, 9 * kUs), k.count & 0xFF);
    EXPECT_EQ(t.Read(2, 9 * kUs), k.count >> 8);
  }
  I8254 t(1'000'000);
  Program(t, 0, 2, 7, 0);
  t.Write(3, 0xE2, 3 * kUs);  // status only, counter 0
  EXPECT_EQ(t.Read(0, 3 * kUs), 0xB4);
  EXPECT_EQ(t.Read(0, 3 * kUs), 5);  // live again
  EXPECT_EQ(t.Read(3, 3 * kUs), 0xFF);  // control register reads as no register
}

TEST(I8254, StoppedClockFreezesAndResumes) {
  I8254 t(1'000'000);
  Program(t, 2, 0, 100, 0);  // OUT would rise at 101 us
  t.SetClockStopped(true, 10'500);
  EXPECT_EQ(t.Value(2, 50 * kUs), 91);
  EXPECT_EQ(t.NextOutRisingEdge(2, 50 * kUs), kNever);
  t.SetClockStopped(false, 50'200);  // 40 edges swallowed
  EXPECT_EQ(t.Value(2, 51 * kUs - 1), 91);
  EXPECT_EQ(t.Value(2, 51 * kUs), 90);
  EXPECT_EQ(t.NextOutRisingEdge(2, 51 * kUs), 141 * kUs);
  EXPECT_FALSE(t.Out(2, 141 * kUs - 1));
  EXPECT_TRUE(t.Out(2, 141 * kUs));
}

TEST(I8254, EdgeTimesStayExactAtNonIntegerPeriodsAndAcrossRateChange) {
  I8254 t(3'000'000);  // edge k at ceil(k * 1000 / 3) ns
  Program(t, 0, 2, 3, 0);  // load at 334 ns, rising edges at 1000 k + 334
  EXPECT_EQ(t.Value(0, 666), 3);
  EXPECT_EQ(t.Value(0, 667), 2);
  EXPECT_EQ(t.NextOutRisingEdge(0, 0), 1334u);
  const uint64_t far = 1'000'000'000'000;  // 1000 s later
  EXPECT_EQ(t.NextOutRisingEdge(0, far), far + 334);
  EXPECT_FALSE(t.Out(0, far + 333));
  EXPECT_TRUE(t.Out(0, far + 334));

  I8254 u(1'000'000);
  Program(u, 2, 0, 1000, 0);
  u.SetClockHz(2'000'000, 100'500);  // 100 edges seen, 901 to go at 500 ns
  EXPECT_EQ(u.Value(2, 101'000), 900);
  EXPECT_EQ(u.NextOutRisingEdge(2, 101'000), 100'500u + 901 * 500);
}

TEST(I8254, GateModesBcdAndRewritesAreRecorded) {
  I8254 t(1'000'000);
  t.Write(3, 0x72, 0);  // counter 1, mode 1: needs a gate trigger
  t.Write(1, 9, 0);
  t.Write(1, 0, 0);
  EXPECT_EQ(t.UnsupportedFlags(1), I8254::kNoGateTrigger);
  EXPECT_TRUE(t.Out(1, 50 * kUs));
  EXPECT_EQ(t.Value(1, 50 * kUs), 0);
  EXPECT_TRUE(t.Status(1, 50 * kUs) & 0x40);
  EXPECT_EQ(t.NextOutRisingEdge(1, 0), kNever);

  t.Write(3, 0xB1, 0);  // counter 2, mode 0, BCD; count 0 = 10000
  t.Write(2, 0, 0);
  t.Write(2, 0, 0);
  EXPECT_EQ(t.Value(2, 2 * kUs), 0x9999);
  EXPECT_EQ(t.NextOutRisingEdge(2, 0), 10001 * kUs);
  EXPECT_EQ(t.UnsupportedFlags(2), 0u);
  t.Write(2, 0xA0, 3 * kUs);
  t.Write(2, 0x00, 3 * kUs);
  EXPECT_EQ(t.UnsupportedFlags(2), I8254::kInvalidBcdDigit);

  Program(t, 0, 2, 10, 0);
  t.Write(0, 4, 5 * kUs);  // new count without a control word while running
  t.Write(0, 0, 5 * kUs);
  EXPECT_EQ(t.UnsupportedFlags(0), I8254::kReloadOnNextEdge);
}

// The reported rising edges must be exactly the low-to-high changes of Out() sampled at every
// CLK edge, and Out() must not change between edges.
TEST(I8254, NextOutRisingEdgeMatchesSampledOut) {
  struct Case { int mode; uint16_t count; };
  for (const Case k : {Case{0, 5}, Case{2, 4}, Case{2, 1}, Case{3, 5}, Case{3, 6}, Case{4, 3}}) {
    SCOPED_TRACE(testing::Message() << "mode " << k.mode << " count " << k.count);
    I8254 t(3'000'000);
    Program(t, 1, k.mode, k.count, 100);
    auto edge = [](uint64_t n) { return (n * 1000 + 2) / 3; };
    std::vector<uint64_t> sampled, reported;
    for (uint64_t n = 1; n <= 40; ++n) {
      ASSERT_EQ(t.Out(1, edge(n) - 1), t.Out(1, edge(n - 1) + (n > 1 ? 0 : 100)));
      if (!t.Out(1, edge(n) - 1) && t.Out(1, edge(n))) sampled.push_back(edge(n));
    }
    for (uint64_t r = t.NextOutRisingEdge(1, 100); r <= edge(40);
         r = t.NextOutRisingEdge(1, r))
      reported.push_back(r);
    EXPECT_EQ(reported, sampled);
  }
}

}  // namespace
}  // namespace daqsim
