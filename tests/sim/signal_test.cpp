// Signal sources and the converter's quantiser.
#include "daqsim/signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace daqsim {
namespace {

constexpr uint64_t kLate = 1'000'000'000'000;  // 1e12 ns: whole cycles of every case below

TEST(Signal, WaveformValuesAtExactPhasesNowAndLate) {
  struct Case { Signal s; uint64_t t_ns; double want; };
  const Case cases[] = {
      {Signal::Dc(3.3), 123'456'789, 3.3},
      {Signal::Sine(2, 1000, 0, 0.5), 0, 0.5},
      {Signal::Sine(2, 1000, 0, 0.5), 250'000, 2.5},
      {Signal::Sine(2, 1000, 0, 0.5), 500'000, 0.5},
      {Signal::Sine(2, 1000, 0, 0.5), 750'000, -1.5},
      {Signal::Sine(1, 1000, 90), 0, 1},
      {Signal::Sine(1, 1000, 90), 250'000, 0},
      {Signal::Sine(1, -1000), 250'000, -1},       // runs backwards
      {Signal::Sine(1, 0, 90), 777'777, 1},        // held at the phase
      {Signal::Sine(1, 2.5), 100'000'000, 1},      // quarter of a 400 ms period
      {Signal::Square(1, 1000, 0, 0.25), 0, 1.25},
      {Signal::Square(1, 1000, 0, 0.25), 499'999, 1.25},
      {Signal::Square(1, 1000, 0, 0.25), 500'000, -0.75},
      {Signal::Square(1, 1000, 0, 0.25), 999'999, -0.75},
      {Signal::Square(1, 1000, 180), 0, -1},
      {Signal::Square(1, 2.5), 199'999'999, 1},
      {Signal::Square(1, 2.5), 200'000'000, -1},
      {Signal::Triangle(2, 1000), 0, 0},
      {Signal::Triangle(2, 1000), 125'000, 1},
      {Signal::Triangle(2, 1000), 250'000, 2},
      {Signal::Triangle(2, 1000), 500'000, 0},
      {Signal::Triangle(2, 1000), 625'000, -1},
      {Signal::Triangle(2, 1000), 750'000, -2},
      {Signal::Triangle(2, 1000), 875'000, -1},
      {Signal::Triangle(2, 1000, -90), 0, -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.s.Describe() + " at " + std::to_string(c.t_ns));
    EXPECT_NEAR(c.s.VoltsAt(c.t_ns), c.want, 1e-12);
    EXPECT_NEAR(c.s.VoltsAt(c.t_ns + kLate), c.want, 1e-12);
  }
}

TEST(Signal, PhaseStaysExactFarOutInTime) {
  // 7 kHz has no whole-nanosecond period; 1e12 ns is still 7e6 whole cycles.
  const Signal s = Signal::Sine(1, 7000, 30);
  for (uint64_t t : {12'345ull, 99'999ull, 142'857ull}) {
    EXPECT_NEAR(s.VoltsAt(t + kLate), s.VoltsAt(t), 1e-12) << t;
  }
  // Beyond 2^53 ns a double no longer holds the time itself.
  const Signal k = Signal::Sine(1, 1000);
  for (uint64_t t : {1ull << 62, (1ull << 62) + 123'457, ~0ull}) {
    const double p = double(t % 1'000'000) / 1e6;
    EXPECT_NEAR(k.VoltsAt(t), std::sin(2 * 3.14159265358979323846 * p), 1e-12) << t;
  }
}

TEST(Signal, NoiseIsAFunctionOfSeedAndTimeOnly) {
  const Signal a = Signal::Noise(0.2, 42);
  std::vector<double> forward, backward(1000);
  for (uint64_t i = 0; i < 1000; ++i) forward.push_back(a.VoltsAt(i * 997));
  const Signal b = Signal::Noise(0.2, 42);
  for (uint64_t i = 1000; i-- > 0;) backward[i] = b.VoltsAt(i * 997);
  EXPECT_EQ(forward, backward);

  int same = 0;
  const Signal other = Signal::Noise(0.2, 43);
  for (uint64_t i = 0; i < 1000; ++i) same += other.VoltsAt(i * 997) == forward[i];
  EXPECT_LT(same, 5);

  // The same noise rides on any waveform.
  const Signal clean = Signal::Triangle(1, 50, 0, 0.5);
  const Signal noisy = clean.WithNoise(0.2, 42);
  for (uint64_t t : {uint64_t(0), uint64_t(1), uint64_t(5'000'000), kLate + 3}) {
    EXPECT_DOUBLE_EQ(noisy.VoltsAt(t), clean.VoltsAt(t) + a.VoltsAt(t)) << t;
  }
  EXPECT_EQ(noisy.WithNoise(0).VoltsAt(1234), clean.VoltsAt(1234));
}

TEST(Signal, NoiseIsGaussianWithTheGivenRmsAndUncorrelated) {
  const double kOffset = 1.5, kRms = 0.1;
  const Signal s = Signal::Dc(kOffset).WithNoise(kRms, 7);
  const int n = 200'000;
  double sum = 0, sum_sq = 0, lag_sum = 0, prev = 0;
  int within_one_sigma = 0;
  for (int i = 0; i < n; ++i) {
    const double d = s.VoltsAt(uint64_t(i) * 1000 + 17) - kOffset;
    sum += d;
    sum_sq += d * d;
    lag_sum += d * prev;
    within_one_sigma += std::fabs(d) < kRms;
    prev = d;
  }
  EXPECT_NEAR(sum / n, 0, 5 * kRms / std::sqrt(n));
  EXPECT_NEAR(std::sqrt(sum_sq / n), kRms, 0.01 * kRms);
  EXPECT_NEAR(double(within_one_sigma) / n, 0.6827, 0.005);  // a uniform spread gives 0.577
  EXPECT_NEAR(lag_sum / sum_sq, 0, 0.01);
}

TEST(Signal, QuantiserRoundsHalfUpAndClips) {
  const double kNan = std::numeric_limits<double>::quiet_NaN();
  const double kInf = std::numeric_limits<double>::infinity();
  const double step = 10.0 / 2048;
  struct Case { double volts, range; uint16_t want; };
  const Case cases[] = {
      {0, 10, 2048},           {-0.0, 10, 2048},           {0.5 * step, 10, 2049},
      {-0.5 * step, 10, 2048}, {1.5 * step, 10, 2050},     {-1.5 * step, 10, 2047},
      {0.49999999 * step, 10, 2048}, {0.49999999999999994, 2048, 2048},
      {-10, 10, 0},            {-10 - step, 10, 0},        {-10 + 0.5 * step, 10, 1},
      {10 - step, 10, 4095},   {10 - 0.5 * step, 10, 4095}, {10 - 1.51 * step, 10, 4094},
      {10, 10, 4095},          {1e300, 10, 4095},          {-kInf, 10, 0},
      {kInf, 10, 4095},        {0.5, 1, 3072},             {-0.0025, 0.01, 1536},
      {kNan, 10, 2048},        {1, 0, 2048},               {1, -10, 2048},
      {1, kNan, 2048},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QuantiseToCode(c.volts, c.range), c.want) << c.volts << " on +-" << c.range;
  }
}

TEST(Signal, DescribeNamesKindAndParameters) {
  EXPECT_EQ(Signal().Describe(), "DC 0 V");
  EXPECT_EQ(Signal::Sine(2, 50, 90, 0.5).WithNoise(0.01, 7).Describe(),
            "sine 2 V peak, 50 Hz, phase 90 deg, offset 0.5 V, noise 0.01 V rms (seed 7)");
  EXPECT_EQ(Signal::Square(1, 1000).Describe(), "square 1 V peak, 1000 Hz");
  EXPECT_EQ(Signal::Noise(0.3, 1).Describe(), "DC 0 V, noise 0.3 V rms (seed 1)");
}

}  // namespace
}  // namespace daqsim
