// The A/D converter model: status timing, sampling, multiplexer, ranges, triggers, faults.
#include "daqsim/ad_converter.h"

#include <gtest/gtest.h>

#include <vector>

namespace daqsim {
namespace {

constexpr uint64_t kConv = AdConverter::kDefaultConversionNs;
constexpr uint16_t kHigh = 0xF000;  // AdData bits 12-15, not driven: read as ones

// Software trigger at t; the AdData word once the conversion has ended.
uint16_t ConvertAt(AdConverter& a, uint64_t t) {
  a.SoftwareTrigger(t);
  return a.Data(t + a.ConversionNs());
}

TEST(AdConverter, PowerUpIsIdleAtMidScale) {
  AdConverter a;
  EXPECT_EQ(a.Status(0), 0x01);
  EXPECT_EQ(a.Data(0), 0xF800);
  EXPECT_EQ(a.Channel(), 0);
  EXPECT_EQ(a.RangeVolts(), 10.0);
  EXPECT_FALSE(a.InterruptOnEnd());
  EXPECT_EQ(a.PendingCompletionNs(), AdConverter::kNever);
  EXPECT_TRUE(a.TakeCompleted(1'000'000).empty());
}

TEST(AdConverter, EndOfConversionFlagFallsAtTriggerAndRisesWithTheData) {
  for (uint64_t conv : {kConv, uint64_t(1), uint64_t(2500)}) {
    SCOPED_TRACE(conv);
    AdConverter a;
    a.SetConversionNs(conv);
    a.SetSignal(0, Signal::Dc(5));
    const uint64_t t = 5000;
    a.SoftwareTrigger(t);
    EXPECT_EQ(a.Status(t), 0x00);
    EXPECT_EQ(a.Status(t + conv - 1), 0x00);
    EXPECT_EQ(a.Data(t + conv - 1), 0xF800);
    EXPECT_EQ(a.Status(t + conv), 0x01);
    EXPECT_EQ(a.Data(t + conv), kHigh | 3072);
    EXPECT_EQ(a.Counters(t + conv - 1).completed, 0u);
    EXPECT_EQ(a.Counters(t + conv).completed, 1u);
  }
  AdConverter zero;  // conversion time 0: never seen busy
  zero.SetConversionNs(0);
  zero.SetSignal(0, Signal::Dc(-5));
  zero.SoftwareTrigger(700);
  EXPECT_EQ(zero.Status(700), 0x01);
  EXPECT_EQ(zero.Data(700), kHigh | 1024);
}

TEST(AdConverter, SamplesTheInputAtTheTriggerInstant) {
  AdConverter a;
  a.SetSignal(0, Signal::Square(5, 62'500));  // +5 V in [0, 8 us), -5 V in [8, 16 us)
  EXPECT_EQ(ConvertAt(a, 1000), kHigh | 3072);   // read at 9 us, input already negative
  EXPECT_EQ(ConvertAt(a, 9000), kHigh | 1024);   // read at 17 us, input positive again
}

TEST(AdConverter, MultiplexerDecodesTheLowNibble) {
  AdConverter a;
  for (int c = 0; c < AdConverter::kChannels; ++c) {
    ASSERT_TRUE(a.SetSignal(c, Signal::Dc((c - 8) * 10.0 / 16)));  // code 1024 + 128 c
  }
  EXPECT_FALSE(a.SetSignal(16, Signal::Dc(1)));
  EXPECT_FALSE(a.SetSignal(-1, Signal::Dc(1)));
  struct Case { uint8_t byte; int channel; };
  uint64_t t = 0;
  for (const Case k : {Case{0x00, 0}, Case{0x05, 5}, Case{0x0F, 15}, Case{0x0A, 10}}) {
    a.SelectChannel(k.byte, t);
    EXPECT_EQ(ConvertAt(a, t), kHigh | (1024 + 128 * k.channel)) << int(k.byte);
    t += 10 * kConv;
  }
  EXPECT_EQ(a.Irregularities(), 0u);
  for (const Case k : {Case{0x10, 0}, Case{0x25, 5}, Case{0xFF, 15}}) {
    a.SelectChannel(k.byte, t);
    EXPECT_EQ(ConvertAt(a, t), kHigh | (1024 + 128 * k.channel)) << int(k.byte);
    t += 10 * kConv;
  }
  EXPECT_EQ(a.Irregularities(), AdConverter::kChannelBitsIgnored);

  AdConverter b;  // unconnected inputs read 0 V
  b.SetSignal(3, Signal::Dc(7));
  b.SelectChannel(4, 0);
  EXPECT_EQ(ConvertAt(b, 0), kHigh | 2048);
}

TEST(AdConverter, GainByteSelectsTheRange) {
  struct Case { uint8_t byte; double range; bool undecoded; };
  const Case cases[] = {
      {0x00, 10, false},   {0x01, 5, false},     {0x02, 2.5, false},    {0x03, 1.25, false},
      {0x10, 10, false},   {0x11, 1, false},     {0x12, 0.1f, false},   {0x13, 0.01f, false},
      {0x04, 10, true},    {0x0D, 5, true},      {0x92, 0.1f, true},    {0xFF, 0.01f, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.byte));
    AdConverter a;
    a.SetGain(c.byte, 0);
    EXPECT_EQ(a.RangeVolts(), c.range);
    EXPECT_EQ(a.Irregularities() == AdConverter::kGainBitsIgnored, c.undecoded);
    const struct { double volts; uint16_t code; } points[] = {
        {0.5 * c.range, 3072}, {-c.range, 0}, {c.range, 4095}, {-2 * c.range, 0}, {0, 2048}};
    uint64_t t = 0;
    for (const auto& p : points) {
      a.SetSignal(0, Signal::Dc(p.volts));
      EXPECT_EQ(ConvertAt(a, t), kHigh | p.code) << p.volts;  // bits 12-15 set at both ends
      t += kConv;
    }
  }
}

TEST(AdConverter, SmallRangesUseTheSinglePrecisionFullScale) {
  AdConverter a;
  a.SetGain(0x12, 0);
  ASSERT_NE(a.RangeVolts(), 0.1);
  a.SetSignal(0, Signal::Dc(double(0.1f) * 1.5 / 2048));  // exactly 1.5 steps
  EXPECT_EQ(ConvertAt(a, 0), kHigh | 2050);
  a.SetSignal(0, Signal::Dc(0.1 * 1.5 / 2048));  // just under 1.5 steps of 0.1f
  EXPECT_EQ(ConvertAt(a, kConv), kHigh | 2049);
}

TEST(AdConverter, TriggerDuringAConversionIsAnOverrun) {
  AdConverter a;
  a.SetSignal(0, Signal::Square(5, 125'000));  // +5 V in [0, 4 us), -5 V in [4, 8 us)
  a.SoftwareTrigger(0);
  a.PacerTrigger(4000);
  a.SoftwareTrigger(kConv - 1);
  EXPECT_EQ(a.Status(kConv - 1), 0x00);
  EXPECT_EQ(a.Data(kConv), kHigh | 3072);  // the first sample, not the later ones
  a.PacerTrigger(kConv);                  // the end instant itself starts the next one
  EXPECT_EQ(a.Status(kConv), 0x00);
  const AdConverter::Counts n = a.Counters(2 * kConv);
  EXPECT_EQ(n.started, 2u);
  EXPECT_EQ(n.completed, 2u);
  EXPECT_EQ(n.overruns, 2u);
}

TEST(AdConverter, FinishedConversionsAreQueuedWithTheirWords) {
  AdConverter a;
  a.SetSignal(2, Signal::Triangle(8, 10'000));  // distinct values at the edges below
  a.SelectChannel(2, 0);
  a.SetMode(0x04, 0);
  EXPECT_TRUE(a.InterruptOnEnd());
  for (uint64_t t : {10'000, 21'000, 30'000}) a.PacerTrigger(t);  // fed in bulk
  EXPECT_EQ(a.Status(35'000), 0x00);
  EXPECT_EQ(a.Data(35'000), kHigh | QuantiseToCode(a.SignalOf(2).VoltsAt(21'000), 10));
  EXPECT_EQ(a.PendingCompletionNs(), 38'000u);
  const std::vector<AdConversion> first = a.TakeCompleted(35'000);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[1].triggerNs, 21'000u);
  EXPECT_EQ(first[1].doneNs, 29'000u);
  EXPECT_EQ(first[1].word, a.Data(35'000));
  EXPECT_TRUE(first[0].pacer);
  EXPECT_EQ(first[0].mode, 0x04);
  EXPECT_EQ(first[0].channel, 2);
  EXPECT_TRUE(a.TakeCompleted(37'999).empty());
  const std::vector<AdConversion> last = a.TakeCompleted(38'000);
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].word, a.Data(38'000));
  EXPECT_EQ(a.PendingCompletionNs(), AdConverter::kNever);
  EXPECT_EQ(a.Irregularities(), 0u);
  a.SetMode(0x05, 40'000);
  EXPECT_EQ(a.Irregularities(), AdConverter::kModeBitsIgnored);
}

TEST(AdConverter, QueueKeepsTheNewestWhenNobodyDrainsIt) {
  AdConverter a;
  a.SetConversionNs(0);
  const uint64_t n = AdConverter::kMaxQueued + 3;
  for (uint64_t t = 0; t < n; ++t) a.PacerTrigger(t);
  const std::vector<AdConversion> q = a.TakeCompleted(n);
  ASSERT_EQ(q.size(), AdConverter::kMaxQueued);
  EXPECT_EQ(q.front().triggerNs, 3u);
  EXPECT_EQ(q.back().triggerNs, n - 1);
  EXPECT_EQ(a.Counters(n).dropped, 3u);
}

// Pacer edges fed at their own times, with eager queries in between, and fed late in bulk at
// each register access must leave identical traces.
TEST(AdConverter, LateFedPacerEdgesGiveTheSameResultsAsTimelyOnes) {
  std::vector<uint64_t> edges;
  for (uint64_t t = 3000; t < 400'000; t += 6100) edges.push_back(t);  // every other overruns
  edges.push_back(edges.back() + 8000);
  edges.push_back(edges.back());  // two edges at the same instant
  std::vector<uint64_t> accesses;  // dense polling, then a few accesses far apart
  for (uint64_t t = 0; t < 420'000; t += t < 100'000 ? 2700 : 23'000) accesses.push_back(t);
  const uint64_t kSwitch = accesses[40];  // channel change at an access

  struct Trace {
    std::vector<uint32_t> reads;
    std::vector<AdConversion> done;
  };
  auto run = [&](bool timely) {
    AdConverter a;
    a.SetSignal(0, Signal::Sine(9, 3100, 0, 0).WithNoise(0.05, 1));
    a.SetSignal(1, Signal::Triangle(4, 1700));
    Trace tr;
    size_t e = 0;
    for (uint64_t now : accesses) {
      while (e < edges.size() && edges[e] <= now) {
        if (timely) {  // as an eager owner would: drain and look right at the edge
          for (const AdConversion& c : a.TakeCompleted(edges[e])) tr.done.push_back(c);
          (void)a.Status(edges[e]);
        }
        a.PacerTrigger(edges[e++]);
      }
      if (now == kSwitch) a.SelectChannel(1, now);
      tr.reads.push_back(uint32_t(a.Status(now)) << 16 | a.Data(now));
      if (!timely && now % 3 == 0) continue;  // the bulk owner drains less often
      for (const AdConversion& c : a.TakeCompleted(now)) tr.done.push_back(c);
    }
    for (const AdConversion& c : a.TakeCompleted(accesses.back())) tr.done.push_back(c);
    const AdConverter::Counts n = a.Counters(accesses.back());
    EXPECT_GT(n.overruns, 0u);
    EXPECT_EQ(n.completed, tr.done.size());
    EXPECT_EQ(a.Irregularities(), 0u);
    return tr;
  };
  const Trace timely = run(true), late = run(false);
  EXPECT_EQ(timely.reads, late.reads);
  ASSERT_EQ(timely.done.size(), late.done.size());
  for (size_t i = 0; i < timely.done.size(); ++i) {
    EXPECT_EQ(timely.done[i].triggerNs, late.done[i].triggerNs) << i;
    EXPECT_EQ(timely.done[i].word, late.done[i].word) << i;
    EXPECT_EQ(timely.done[i].channel, late.done[i].channel) << i;
  }

  AdConverter wrong;  // an edge fed after a later register write is flagged
  wrong.SelectChannel(1, 50'000);
  wrong.PacerTrigger(49'000);
  EXPECT_EQ(wrong.Irregularities(), AdConverter::kTriggerAfterLaterWrite);
}

TEST(AdConverter, NeverFinishesFaultHoldsTheFlagLowAndTheDataOld) {
  AdConverter a;
  a.SetSignal(0, Signal::Dc(5));
  const uint16_t before = ConvertAt(a, 0);
  a.SetSignal(0, Signal::Dc(-5));
  a.SetNeverFinishes(true, 20'000);
  a.SoftwareTrigger(20'000);
  a.PacerTrigger(1'000'000'000);
  EXPECT_EQ(a.Status(5'000'000'000), 0x00);
  EXPECT_EQ(a.Data(5'000'000'000), before);
  EXPECT_EQ(a.TakeCompleted(5'000'000'000).size(), 1u);  // only the good conversion
  a.SetNeverFinishes(false, 6'000'000'000);
  EXPECT_EQ(a.Status(6'000'000'000 - 1), 0x00);
  EXPECT_EQ(a.Status(6'000'000'000), 0x01);
  EXPECT_EQ(a.Data(6'000'000'000), before);
  EXPECT_EQ(ConvertAt(a, 6'000'000'000), kHigh | 1024);  // converts normally again
  const AdConverter::Counts n = a.Counters(7'000'000'000);
  EXPECT_EQ(n.started, 3u);
  EXPECT_EQ(n.completed, 2u);
  EXPECT_EQ(n.overruns, 1u);
}

TEST(AdConverter, StuckHighFlagStillDeliversDataOnTime) {
  AdConverter a;
  a.SetEocStuckHigh(true);
  a.SetSignal(0, Signal::Dc(2.5));
  a.SoftwareTrigger(1000);
  EXPECT_EQ(a.Status(1000), 0x01);
  EXPECT_EQ(a.Data(1000 + kConv - 1), 0xF800);
  EXPECT_EQ(a.Data(1000 + kConv), kHigh | 2560);
  a.SetEocStuckHigh(false);
  a.SoftwareTrigger(1000 + kConv);
  EXPECT_EQ(a.Status(1000 + kConv), 0x00);
}

}  // namespace
}  // namespace daqsim
