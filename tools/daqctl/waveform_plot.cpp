// The waveform picture: bounded decimation as samples stream, and the SVG.
#include "waveform_plot.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "sample_codes.h"

namespace daqctl {

void WaveformPlot::Add(double volts) {
  if (runs_.empty() || inLast_ == runLength_) {
    if (runs_.size() == 2 * kColumns) {
      // Full: pairs of runs merge into runs twice as long.
      for (size_t i = 0; i < kColumns; ++i) {
        const Run a = runs_[2 * i], b = runs_[2 * i + 1];
        runs_[i] = Run{std::min(a.lo, b.lo), std::max(a.hi, b.hi)};
      }
      runs_.resize(kColumns);
      runLength_ *= 2;
      // The last run is now complete as well (2 x kColumns runs of the old
      // length made kColumns of the new).
    }
    runs_.push_back(Run{INFINITY, -INFINITY});
    inLast_ = 0;
  }
  if (!std::isnan(volts)) {
    Run& r = runs_.back();
    r.lo = std::min(r.lo, float(volts));
    r.hi = std::max(r.hi, float(volts));
  }
  ++inLast_;
  ++samples_;
}

void WaveformPlot::Add(const uint16_t* words, size_t count, float fullScale) {
  for (size_t i = 0; i < count; ++i) Add(double(CodeToVolts(words[i], fullScale)));
}

std::vector<double> RoundTicks(double lo, double hi, int target) {
  std::vector<double> ticks;
  if (!(hi > lo) || target < 1) return ticks;
  const double raw = (hi - lo) / target;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  // The 1-2-5 step nearest to the raw one (by ratio).
  double step = magnitude;
  for (double m : {2.0, 5.0, 10.0}) {
    if (std::fabs(std::log(magnitude * m / raw)) < std::fabs(std::log(step / raw))) step = magnitude * m;
  }
  // Multiples of the step, computed from their index so that no error
  // accumulates (and -0 becomes 0).
  for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1) ticks.push_back(k * step + 0.0);
  return ticks;
}

namespace {

// A tick label: the value in the unit that suits the step ("20 ms", "1.5 V").
std::string SecondsLabel(double t, double step) {
  if (step >= 1) return fmt::format("{:g} s", t);
  if (step >= 1e-3) return fmt::format("{:g} ms", std::round(t * 1e6) / 1e3);
  return fmt::format("{:g} us", std::round(t * 1e9) / 1e3);
}

}  // namespace

std::string WaveformPlot::Render(const std::string& title, double rangeVolts,
                                 std::optional<double> samplePeriod) const {
  // Margins wide enough for the labels: the last time label may sit at the
  // right edge of the plot area.
  constexpr double W = 900, H = 360, L = 70, R = 30, T = 40, B = 50;
  const double pw = W - L - R, ph = H - T - B;
  const uint64_t n = samples_;
  const double lastIndex = double(n > 1 ? n - 1 : 1);
  const double span = samplePeriod ? lastIndex * *samplePeriod : lastIndex;
  auto x = [&](double index) { return L + (n > 1 ? index / double(n - 1) : 0.0) * pw; };
  auto y = [&](double v) {
    v = std::clamp(v, -rangeVolts, rangeVolts);
    return T + (1.0 - (v + rangeVolts) / (2 * rangeVolts)) * ph;
  };
  std::string svg = fmt::format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      "<text x=\"{2}\" y=\"22\" font-size=\"14\">{3}</text>\n",
      W, H, L, title);
  const std::vector<double> voltTicks = RoundTicks(-rangeVolts, rangeVolts, 4);
  for (double v : voltTicks) {
    const double yy = y(v);
    svg += fmt::format("<line x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\" stroke=\"{}\"/>\n", L, yy, L + pw, yy,
                       v == 0 ? "#888" : "#ddd");
    svg += fmt::format("<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{:g} V</text>\n", L - 6, yy + 4, v);
  }
  const std::vector<double> timeTicks = RoundTicks(0, span, 5);
  const double step = timeTicks.size() > 1 ? timeTicks[1] - timeTicks[0] : span;
  for (double t : timeTicks) {
    const double xx = L + (span > 0 ? t / span : 0) * pw;
    svg += fmt::format("<line x1=\"{:.1f}\" y1=\"{}\" x2=\"{:.1f}\" y2=\"{}\" stroke=\"#ddd\"/>\n", xx, T, xx, T + ph);
    // Labels near the right edge end there instead of running past it.
    const char* anchor = xx > L + pw - 30 ? "end" : "middle";
    const std::string label = samplePeriod ? SecondsLabel(t, step) : fmt::format("{:.0f}", t);
    svg += fmt::format("<text x=\"{:.1f}\" y=\"{}\" text-anchor=\"{}\">{}</text>\n", xx, T + ph + 18, anchor, label);
  }
  svg += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"middle\">{}</text>\n", L + pw / 2, H - 8,
                     samplePeriod ? "time" : "sample");
  svg += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#444\"/>\n", L, T,
                     pw, ph);
  // The trace: each run as its minimum and maximum at the run's first sample
  // (a single sample per run: the sample itself).
  std::string points;
  for (size_t i = 0; i < runs_.size(); ++i) {
    const Run& r = runs_[i];
    if (r.lo > r.hi) continue;
    const double xx = x(double(i) * double(runLength_));
    if (runLength_ == 1) {
      points += fmt::format("{:.1f},{:.1f} ", xx, y(r.lo));
    } else {
      points += fmt::format("{:.1f},{:.1f} {:.1f},{:.1f} ", xx, y(r.lo), xx, y(r.hi));
    }
  }
  svg += fmt::format("<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.2\" points=\"{}\"/>\n</svg>\n",
                     points);
  return svg;
}

}  // namespace daqctl
