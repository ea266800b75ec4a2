// Signal sources for the analog inputs of the simulated multifunction board.
//
// A Signal is the voltage on one input pin as a pure function of virtual time in
// nanoseconds: there is no state, so the value at any instant is the same whatever was asked
// before, and a sample taken late (an A/D trigger processed after the fact) sees exactly what
// it would have seen in time.
//
// Kinds, with p the position in the cycle, 0 <= p < 1, p = frac(t * f + phase / 360):
//   DC        offset
//   sine      offset + amplitude * sin(2 pi p)
//   square    offset + amplitude for p < 1/2, offset - amplitude for p >= 1/2
//   triangle  offset + amplitude * (4p for p < 1/4, 2 - 4p for p < 3/4, 4p - 4 above), that
//             is linear between -amplitude and +amplitude and in step with the sine: 0 at p = 0,
//             the peak at p = 1/4, the trough at p = 3/4
// Any kind may carry Gaussian noise of a given rms and seed on top. The noise at time t is a
// hash of (seed, t): reproducible, independent of call order and of the waveform under it.
// Two signals with equal seeds carry identical noise; give channels different seeds for
// independent noise.
//
// The cycle position is formed from whole seconds and the nanosecond remainder in integer
// arithmetic (the integer part of the frequency contributes whole cycles per second exactly),
// so precision does not decay with time: at t = 1e12 ns a 1 kHz sine is as exact as at t = 0.
// A negative frequency runs the cycle backwards; frequency 0 holds it at the phase.
#ifndef DAQSIM_SIGNAL_H
#define DAQSIM_SIGNAL_H

#include <cstdint>
#include <string>

namespace daqsim {

class Signal {
 public:
  enum class Kind : uint8_t { kDc, kSine, kSquare, kTriangle };

  // 0 V, no noise: what an unconnected (grounded) input gives.
  Signal() = default;

  // Constant `volts`.
  static Signal Dc(double volts);
  // Periodic waveforms: peak amplitude in volts, frequency in Hz, phase in degrees (added to
  // the cycle position), offset in volts.
  static Signal Sine(double amplitude, double hz, double phaseDeg = 0, double offset = 0);
  static Signal Square(double amplitude, double hz, double phaseDeg = 0, double offset = 0);
  static Signal Triangle(double amplitude, double hz, double phaseDeg = 0, double offset = 0);
  // Noise alone: 0 V DC plus Gaussian noise of `rms` volts.
  static Signal Noise(double rms, uint64_t seed = 0);

  // A copy of this signal with Gaussian noise of `rms` volts and `seed` added (replacing any
  // noise it had). rms 0 removes the noise.
  Signal WithNoise(double rms, uint64_t seed = 0) const;

  // Voltage at virtual time tNs. NaN or infinite parameters give a NaN or infinite result.
  double VoltsAt(uint64_t tNs) const;
  // The noise component alone at tNs: rms times a standard normal deviate derived from
  // (seed, tNs); 0 when there is no noise.
  double NoiseAt(uint64_t tNs) const;

  // One line for people, e.g. "sine 2 V peak, 50 Hz, phase 90 deg, offset 0.5 V, noise
  // 0.01 V rms (seed 7)". Numbers are printed with six significant digits.
  std::string Describe() const;

  Kind kind() const { return kind_; }
  double amplitude() const { return amplitude_; }
  double frequencyHz() const { return hz_; }
  double phaseDegrees() const { return phaseDeg_; }
  double offset() const { return offset_; }
  double noiseRms() const { return noiseRms_; }
  uint64_t seed() const { return seed_; }

 private:
  Signal(Kind kind, double amplitude, double hz, double phaseDeg, double offset);
  // Position in the cycle at tNs, in [0, 1).
  double CyclePosition(uint64_t tNs) const;

  Kind kind_ = Kind::kDc;
  double amplitude_ = 0;
  double hz_ = 0;
  double phaseDeg_ = 0;
  double offset_ = 0;
  double noiseRms_ = 0;
  uint64_t seed_ = 0;
};

// The A/D converter's transfer function: the 12-bit offset-binary code for `volts` on an
// input range of +-rangeVolts. code = round(volts / rangeVolts * 2048) + 2048, rounding
// halves upwards (towards +infinity: +0.5 step gives 2049, -0.5 step gives 2048), then
// clipped to 0..4095, so +rangeVolts and above read 4095 and -rangeVolts and below read 0.
// NaN volts, or a range that is not a positive finite number, give the mid-scale code 2048.
uint16_t QuantiseToCode(double volts, double rangeVolts);

}  // namespace daqsim

#endif
