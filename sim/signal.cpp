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

// Standard normal deviate for (seed, t_ns): two hashed uniforms through Box-Muller.
double Gaussian(uint64_t seed, uint64_t t_ns) {
  const uint64_t h1 = SplitMix64(SplitMix64(seed) ^ t_ns);
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

Signal::Signal(Kind kind, double amplitude, double hz, double phase_deg, double offset)
    : kind_(kind), amplitude_(amplitude), hz_(hz), phase_deg_(phase_deg), offset_(offset) {}

Signal Signal::Dc(double volts) { return Signal(Kind::kDc, 0, 0, 0, volts); }

Signal Signal::Sine(double amplitude, double hz, double phase_deg, double offset) {
  return Signal(Kind::kSine, amplitude, hz, phase_deg, offset);
}

Signal Signal::Square(double amplitude, double hz, double phase_deg, double offset) {
  return Signal(Kind::kSquare, amplitude, hz, phase_deg, offset);
}

Signal Signal::Triangle(double amplitude, double hz, double phase_deg, double offset) {
  return Signal(Kind::kTriangle, amplitude, hz, phase_deg, offset);
}

Signal Signal::Noise(double rms, uint64_t seed) { return Dc(0).WithNoise(rms, seed); }

Signal Signal::WithNoise(double rms, uint64_t seed) const {
  Signal s = *this;
  s.noise_rms_ = rms;
  s.seed_ = seed;
  return s;
}

double Signal::CyclePosition(uint64_t t_ns) const {
  const uint64_t sec = t_ns / kNsPerSecond, rem = t_ns % kNsPerSecond;
  const double f = std::fabs(hz_);
  const double f_int = std::floor(f), f_frac = f - f_int;  // the subtraction is exact
  // Cycles of the integer part of f: sec * f_int is a whole number, only rem counts. Done in
  // integers while rem * f_int fits in 64 bits (f below 2^32 Hz).
  double cycles;
  if (f_int < 4294967296.0) {
    cycles = double(rem * uint64_t(f_int) % kNsPerSecond) / 1e9;
  } else {
    cycles = std::fmod(double(rem) * f_int / 1e9, 1.0);
  }
  cycles += std::fmod(double(sec) * f_frac, 1.0) + double(rem) * f_frac / 1e9;
  if (hz_ < 0) cycles = -cycles;
  cycles += phase_deg_ / 360.0;
  double p = cycles - std::floor(cycles);
  if (p >= 1.0) p = 0.0;  // a tiny negative value rounds up to exactly 1
  return p;
}

double Signal::NoiseAt(uint64_t t_ns) const {
  return noise_rms_ == 0 ? 0.0 : noise_rms_ * Gaussian(seed_, t_ns);
}

double Signal::VoltsAt(uint64_t t_ns) const {
  double wave = 0;
  if (kind_ != Kind::kDc) {
    const double p = CyclePosition(t_ns);
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
  return offset_ + amplitude_ * wave + NoiseAt(t_ns);
}

std::string Signal::Describe() const {
  std::string s;
  if (kind_ == Kind::kDc) {
    s = "DC " + Number(offset_) + " V";
  } else {
    s = kind_ == Kind::kSine ? "sine " : kind_ == Kind::kSquare ? "square " : "triangle ";
    s += Number(amplitude_) + " V peak, " + Number(hz_) + " Hz";
    if (phase_deg_ != 0) s += ", phase " + Number(phase_deg_) + " deg";
    if (offset_ != 0) s += ", offset " + Number(offset_) + " V";
  }
  if (noise_rms_ != 0) {
    s += ", noise " + Number(noise_rms_) + " V rms (seed " + std::to_string(seed_) + ")";
  }
  return s;
}

uint16_t QuantiseToCode(double volts, double range_volts) {
  if (std::isnan(volts) || !(range_volts > 0) || std::isinf(range_volts)) return 2048;
  const double x = volts / range_volts * 2048.0;
  if (x >= 2047.5) return 4095;
  if (x < -2048.0) return 0;
  // Round half up without floor(x + 0.5), which is off for the value just below 0.5.
  double steps = std::floor(x);
  if (x - steps >= 0.5) steps += 1;  // x - floor(x) is exact here
  return uint16_t(int(steps) + 2048);
}

}  // namespace daqsim
