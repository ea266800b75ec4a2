#include "daqsim/signal.h"

#include <cmath>
#include <cstdio>

namespace daqsim {

namespace {

constexpr uint64_t kNsPerSecond = 1'000'000'000;
constexpr double kTwoPi = 6.283185307179586476925286766559;

uint64_t SplitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Standard normal deviate for (seed, tNs): two hashed uniforms through Box-Muller.
double Gaussian(uint64_t seed, uint64_t tNs) {
  const uint64_t h1 = SplitMix64(SplitMix64(seed) ^ tNs);
  const uint64_t h2 = SplitMix64(h1);
  const double u1 = double((h1 >> 11) + 1) * 0x1p-53;  // (0, 1]: log stays finite
  const double u2 = double(h2 >> 11) * 0x1p-53;        // [0, 1)
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

}  // namespace

Signal::Signal(Kind kind, double amplitude, double hz, double phaseDeg, double offset)
    : kind_(kind), amplitude_(amplitude), hz_(hz), phaseDeg_(phaseDeg), offset_(offset) {}

Signal Signal::Dc(double volts) { return Signal(Kind::kDc, 0, 0, 0, volts); }

Signal Signal::Sine(double amplitude, double hz, double phaseDeg, double offset) {
  return Signal(Kind::kSine, amplitude, hz, phaseDeg, offset);
}

Signal Signal::Square(double amplitude, double hz, double phaseDeg, double offset) {
  return Signal(Kind::kSquare, amplitude, hz, phaseDeg, offset);
}

Signal Signal::Triangle(double amplitude, double hz, double phaseDeg, double offset) {
  return Signal(Kind::kTriangle, amplitude, hz, phaseDeg, offset);
}

Signal Signal::Noise(double rms, uint64_t seed) { return Dc(0).WithNoise(rms, seed); }

Signal Signal::WithNoise(double rms, uint64_t seed) const {
  Signal s = *this;
  s.noiseRms_ = rms;
  s.seed_ = seed;
  return s;
}

double Signal::CyclePosition(uint64_t tNs) const {
  const uint64_t sec = tNs / kNsPerSecond, rem = tNs % kNsPerSecond;
  const double f = std::fabs(hz_);
  const double fInt = std::floor(f), fFrac = f - fInt;  // the subtraction is exact
  // Cycles of the integer part of f: sec * fInt is a whole number, only rem counts. Done in
  // integers while rem * fInt fits in 64 bits (f below 2^32 Hz).
  double cycles;
  if (fInt < 4294967296.0) {
    cycles = double(rem * uint64_t(fInt) % kNsPerSecond) / 1e9;
  } else {
    cycles = std::fmod(double(rem) * fInt / 1e9, 1.0);
  }
  cycles += std::fmod(double(sec) * fFrac, 1.0) + double(rem) * fFrac / 1e9;
  if (hz_ < 0) cycles = -cycles;
  cycles += phaseDeg_ / 360.0;
  double p = cycles - std::floor(cycles);
  if (p >= 1.0) p = 0.0;  // a tiny negative value rounds up to exactly 1
  return p;
}

double Signal::NoiseAt(uint64_t tNs) const {
  return noiseRms_ == 0 ? 0.0 : noiseRms_ * Gaussian(seed_, tNs);
}

double Signal::VoltsAt(uint64_t tNs) const {
  double wave = 0;
  if (kind_ != Kind::kDc) {
    const double p = CyclePosition(tNs);
    switch (kind_) {
      case Kind::kSine:
        wave = std::sin(kTwoPi * p);
        break;
      case Kind::kSquare:
        wave = p < 0.5 ? 1.0 : -1.0;
        break;
      case Kind::kTriangle:
        wave = p < 0.25 ? 4 * p : p < 0.75 ? 2 - 4 * p : 4 * p - 4;
        break;
      case Kind::kDc:
        break;
    }
    if (std::isnan(p)) wave = p;
  }
  return offset_ + amplitude_ * wave + NoiseAt(tNs);
}

std::string Signal::Describe() const {
  std::string s;
  if (kind_ == Kind::kDc) {
    s = "DC " + Number(offset_) + " V";
  } else {
    s = kind_ == Kind::kSine ? "sine " : kind_ == Kind::kSquare ? "square " : "triangle ";
    s += Number(amplitude_) + " V peak, " + Number(hz_) + " Hz";
    if (phaseDeg_ != 0) s += ", phase " + Number(phaseDeg_) + " deg";
    if (offset_ != 0) s += ", offset " + Number(offset_) + " V";
  }
  if (noiseRms_ != 0) {
    s += ", noise " + Number(noiseRms_) + " V rms (seed " + std::to_string(seed_) + ")";
  }
  return s;
}

uint16_t QuantiseToCode(double volts, double rangeVolts) {
  if (std::isnan(volts) || !(rangeVolts > 0) || std::isinf(rangeVolts)) return 2048;
  const double x = volts / rangeVolts * 2048.0;
  if (x >= 2047.5) return 4095;
  if (x < -2048.0) return 0;
  // Round half up without floor(x + 0.5), which is off for the value just below 0.5.
  double steps = std::floor(x);
  if (x - steps >= 0.5) steps += 1;  // x - floor(x) is exact here
  return uint16_t(int(steps) + 2048);
}

}  // namespace daqsim
