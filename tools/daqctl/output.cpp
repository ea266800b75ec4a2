// Acquired samples as CSV, JSON and an SVG picture of the waveform.
#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "daqctl.h"

namespace daqctl {

std::string FormatCsv(const Series& s) {
  std::string out = s.codes.empty() ? "index,time_s,volts\n" : "index,time_s,volts,code\n";
  for (size_t i = 0; i < s.volts.size(); ++i) {
    out += fmt::format("{},{:.9g},{:.9g}", i, double(i) * s.sampleSeconds, s.volts[i]);
    if (!s.codes.empty()) out += fmt::format(",{}", s.codes[i]);
    out += '\n';
  }
  return out;
}

std::string FormatJson(const Series& s) {
  nlohmann::json j;
  j["title"] = s.title;
  j["sample_period_s"] = s.sampleSeconds > 0 ? nlohmann::json(s.sampleSeconds) : nlohmann::json(nullptr);
  nlohmann::json volts = nlohmann::json::array();
  for (double v : s.volts) volts.push_back(std::isnan(v) ? nlohmann::json(nullptr) : nlohmann::json(v));
  j["volts"] = volts;
  if (!s.codes.empty()) j["codes"] = s.codes;
  return j.dump(1) + "\n";
}

// A plain line chart: the samples against time (or index), with the range's
// full scale as the vertical extent, a zero line and labelled axes.
std::string RenderSvg(const Series& s, double rangeVolts) {
  constexpr double W = 900, H = 360, L = 70, R = 20, T = 40, B = 50;
  const double pw = W - L - R, ph = H - T - B;
  const size_t n = s.volts.size();
  const double span = s.sampleSeconds > 0 ? double(n > 1 ? n - 1 : 1) * s.sampleSeconds : double(n > 1 ? n - 1 : 1);
  auto x = [&](size_t i) { return L + (n > 1 ? double(i) / double(n - 1) : 0.0) * pw; };
  auto y = [&](double v) {
    v = std::clamp(v, -rangeVolts, rangeVolts);
    return T + (1.0 - (v + rangeVolts) / (2 * rangeVolts)) * ph;
  };
  std::string svg = fmt::format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      "<text x=\"{2}\" y=\"22\" font-size=\"14\">{3}</text>\n",
      W, H, L, s.title);
  // Grid and axis labels: -FS, -FS/2, 0, FS/2, FS.
  for (int k = -2; k <= 2; ++k) {
    const double v = rangeVolts * k / 2, yy = y(v);
    svg += fmt::format("<line x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\" stroke=\"{}\"/>\n", L, yy, L + pw, yy,
                       k == 0 ? "#888" : "#ddd");
    svg += fmt::format("<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{:.4g} V</text>\n", L - 6, yy + 4, v);
  }
  for (int k = 0; k <= 4; ++k) {
    const double xx = L + pw * k / 4, t = span * k / 4;
    svg += fmt::format("<line x1=\"{:.1f}\" y1=\"{}\" x2=\"{:.1f}\" y2=\"{}\" stroke=\"#ddd\"/>\n", xx, T, xx, T + ph);
    const std::string label = s.sampleSeconds > 0 ? fmt::format("{:.4g} ms", t * 1e3) : fmt::format("{:.0f}", t);
    svg += fmt::format("<text x=\"{:.1f}\" y=\"{}\" text-anchor=\"middle\">{}</text>\n", xx, T + ph + 18, label);
  }
  svg += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"middle\">{}</text>\n", L + pw / 2, H - 8,
                     s.sampleSeconds > 0 ? "time" : "sample");
  svg += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#444\"/>\n", L, T,
                     pw, ph);
  // The trace, decimated to at most two points per horizontal pixel column
  // (the minimum and maximum of the samples falling in it).
  std::string points;
  const size_t columns = size_t(pw);
  if (n <= 2 * columns) {
    for (size_t i = 0; i < n; ++i) {
      if (!std::isnan(s.volts[i])) points += fmt::format("{:.1f},{:.1f} ", x(i), y(s.volts[i]));
    }
  } else {
    for (size_t c = 0; c < columns; ++c) {
      const size_t a = c * n / columns, b = (c + 1) * n / columns;
      double lo = INFINITY, hi = -INFINITY;
      for (size_t i = a; i < b; ++i) {
        if (std::isnan(s.volts[i])) continue;
        lo = std::min(lo, s.volts[i]);
        hi = std::max(hi, s.volts[i]);
      }
      if (lo > hi) continue;
      points += fmt::format("{:.1f},{:.1f} {:.1f},{:.1f} ", x(a), y(lo), x(a), y(hi));
    }
  }
  svg += fmt::format("<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.2\" points=\"{}\"/>\n</svg>\n",
                     points);
  return svg;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw Failure(kExitFailure, fmt::format("cannot write {}: {}", path, std::strerror(errno)));
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !ok) throw Failure(kExitFailure, fmt::format("cannot write {}", path));
}

}  // namespace daqctl
