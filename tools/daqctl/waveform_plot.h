// An SVG picture of a recording's waveform, built as the samples stream in:
// the samples are kept as the minimum and maximum of each of at most
// 2 x kColumns runs of equal length (the run length doubles whenever they
// fill up), so memory stays the same whatever the recording's length, and the
// picture shows every peak.
#ifndef DAQCTL_WAVEFORM_PLOT_H
#define DAQCTL_WAVEFORM_PLOT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace daqctl {

class WaveformPlot {
 public:
  // The width of the plot area in pixels: runs are kept for two points per
  // pixel column.
  static constexpr size_t kColumns = 800;

  // Appends samples (the board's words, converted with `fullScale`).
  void Add(const uint16_t* words, size_t count, float fullScale);
  void Add(double volts);  // NaN: a sample that has no value
  uint64_t samples() const { return samples_; }

  // The picture: volts against time (when `samplePeriod` is known) or sample
  // index, the range's full scale as the vertical extent, round tick values,
  // and `title`.
  std::string Render(const std::string& title, double rangeVolts, std::optional<double> samplePeriod) const;

 private:
  struct Run {
    float lo, hi;  // lo > hi: no sample with a value
  };
  std::vector<Run> runs_;
  uint64_t runLength_ = 1;
  uint64_t inLast_ = 0;  // samples in the last run
  uint64_t samples_ = 0;
};

// Tick values for an axis from `lo` to `hi`: the multiples within it of the
// step of 1, 2 or 5 x 10^k nearest to (hi - lo) / target.
std::vector<double> RoundTicks(double lo, double hi, int target);

}  // namespace daqctl

#endif
