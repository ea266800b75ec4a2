// The recording writers and the waveform picture by themselves: the CSV's
// text against the formatting it always had, the documents without a known
// clock, complete JSON whatever was written, write failures, and a picture
// whose memory and labels stay bounded.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "daqctl.h"
#include "sample_writer.h"
#include "waveform_plot.h"

namespace {

using daqctl::RecordingInfo;

std::string ReadAll(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

std::string TempPath(const char* name) { return ::testing::TempDir() + "recording_" + name; }

RecordingInfo Info(float fullScale, std::optional<double> clockHz, uint32_t divisor, bool codes) {
  RecordingInfo info;
  info.tool = "daqctl test";
  info.slot = "0:07";
  info.rangeVolts = fullScale;
  info.mode = "background";
  info.divisor = divisor;
  info.clockHz = clockHz;
  info.startTime = "2024-01-02T03:04:05.678Z";
  info.codes = codes;
  return info;
}

// Every code of every range, on a time axis long enough for exponents: the
// lines are the ones daqctl has always written ({:.9g} of the time and of
// the volts), with the over-range flag after them.
TEST(Recording, CsvLinesAreTheFormattingDaqctlAlwaysWrote) {
  const float ranges[] = {10, 5, 2.5f, 1.25f, 1, 0.1f, 0.01f};
  std::vector<uint16_t> words;
  for (int i = 0; i < 3 * 4096; ++i) words.push_back(uint16_t(0xF000 | (i * 7 % 4096)));
  for (float fullScale : ranges) {
    const std::string path = TempPath("lines.csv");
    auto writer = daqctl::MakeCsvWriter(daqctl::OutputFile::Open(path), Info(fullScale, 3579545.0, 37, true));
    // Blocks of uneven sizes, as fetches come.
    for (size_t at = 0; at < words.size();) {
      const size_t n = std::min<size_t>(words.size() - at, 1 + at % 1000);
      writer->Write(words.data() + at, n);
      at += n;
    }
    writer->Finish("complete");
    const std::string text = ReadAll(path);
    std::string expected;
    const double period = 37 / 3579545.0;
    for (size_t i = 0; i < words.size(); ++i) {
      const unsigned code = words[i] & 0x0FFF;
      const double volts = double(float((double(code) - 2048) / 2048 * double(fullScale)));
      expected += fmt::format("{},{:.9g},{:.9g},{},{}\n", i, double(i) * period, volts, code,
                              code == 0 || code == 4095 ? 1 : 0);
    }
    const size_t header = text.find("index,time_s,volts,code,over_range\n");
    ASSERT_NE(header, std::string::npos);
    const size_t body = header + std::string("index,time_s,volts,code,over_range\n").size();
    ASSERT_EQ(text.substr(body, expected.size()), expected) << fullScale;
    EXPECT_EQ(text.substr(body + expected.size()),
              "# over_range_count: 6\n# sample_count: 12288\n# end: complete\n");
    EXPECT_EQ(writer->samples(), words.size());
    EXPECT_EQ(writer->overRange(), 6u);
  }
  // Far into a long recording the times keep nine significant digits.
  const std::string path = TempPath("far.csv");
  auto writer = daqctl::MakeCsvWriter(daqctl::OutputFile::Open(path), Info(10, 4e6, 40, false));
  std::vector<uint16_t> block(100000, 0x0800);
  for (int i = 0; i < 30; ++i) writer->Write(block.data(), block.size());
  writer->Finish("complete");
  const std::string text = ReadAll(path);
  EXPECT_NE(text.find("\n2999999,29.99999,0,0\n"), std::string::npos);
}

TEST(Recording, WithoutAClockTheFilesCarryIndicesAndTheDivisorAndNoTimes) {
  const uint16_t words[] = {0, 2048, 4095};
  const std::string csvPath = TempPath("noclock.csv"), jsonPath = TempPath("noclock.json");
  auto csv = daqctl::MakeCsvWriter(daqctl::OutputFile::Open(csvPath), Info(10, std::nullopt, 400, false));
  csv->Write(words, 3);
  csv->Finish("complete");
  const std::string text = ReadAll(csvPath);
  for (const char* line : {"# divisor: 400\n", "# counter_clock_hz: unknown\n", "# sample_rate_hz: unknown\n",
                           "# sample_period_s: unknown\n", "index,volts,over_range\n0,-10,1\n1,0,0\n2,9.99511719,1\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  EXPECT_EQ(text.find("time_s"), std::string::npos);

  auto js = daqctl::MakeJsonWriter(daqctl::OutputFile::Open(jsonPath), Info(10, std::nullopt, 400, true));
  js->Write(words, 3);
  js->Finish("complete");
  const nlohmann::json j = nlohmann::json::parse(ReadAll(jsonPath));
  EXPECT_TRUE(j.at("counter_clock_hz").is_null());
  EXPECT_TRUE(j.at("sample_period_s").is_null());
  EXPECT_EQ(j.at("divisor"), 400);
  EXPECT_EQ(j.at("volts"), nlohmann::json::parse("[-10.0, 0.0, 9.9951171875]"));
  EXPECT_EQ(j.at("codes"), nlohmann::json::parse("[0, 2048, 4095]"));
  EXPECT_EQ(j.at("over_range"), nlohmann::json::parse("[0, 2]"));
}

TEST(Recording, JsonIsACompleteDocumentWhateverWasWritten) {
  for (size_t samples : {size_t(0), size_t(1), size_t(70000)}) {
    for (bool codes : {false, true}) {
      const std::string path = TempPath("complete.json");
      auto writer = daqctl::MakeJsonWriter(daqctl::OutputFile::Open(path), Info(5, 4e6, 1000, codes));
      std::vector<uint16_t> words(samples);
      for (size_t i = 0; i < samples; ++i) words[i] = uint16_t(i % 4096);
      writer->Write(words.data(), words.size());
      writer->Finish("interrupted by SIGINT");
      const nlohmann::json j = nlohmann::json::parse(ReadAll(path));
      EXPECT_EQ(j.at("volts").size(), samples);
      EXPECT_EQ(j.at("sample_count"), samples);
      EXPECT_EQ(j.contains("codes"), codes);
      if (codes) {
        EXPECT_EQ(j.at("codes").size(), samples);
      }
      // Codes 0 and 4095 of each run through the codes.
      EXPECT_EQ(j.at("over_range").size(), 2 * (samples / 4096) + (samples % 4096 > 0 ? 1 : 0));
      EXPECT_EQ(j.at("end"), "interrupted by SIGINT");
      EXPECT_EQ(j.at("title"), fmt::format("board 0, channel 0, +-5 V, {} samples, divisor 1000", samples));
    }
  }
}

TEST(Recording, AFailedWriteIsAFailureNamingTheFile) {
  std::vector<uint16_t> words(100000, 0x0800);
  try {
    auto writer = daqctl::MakeCsvWriter(daqctl::OutputFile::Open("/dev/full"), Info(10, 4e6, 40, false));
    writer->Write(words.data(), words.size());
    writer->Finish("complete");
    FAIL() << "no failure";
  } catch (const daqctl::Failure& f) {
    EXPECT_EQ(f.exitCode, daqctl::kExitFailure);
    EXPECT_EQ(std::string(f.what()), "cannot write /dev/full: No space left on device");
  }
  EXPECT_THROW(daqctl::OutputFile::Open("/nonexistent/dir/x.csv"), daqctl::Failure);
}

TEST(WaveformPicture, TicksAreRoundAndNoLabelRunsPastThePicture) {
  const struct {
    double lo, hi;
    int target;
    std::vector<double> ticks;
  } cases[] = {
      {0, 0.09975, 5, {0, 0.02, 0.04, 0.06, 0.08}},
      {-10, 10, 4, {-10, -5, 0, 5, 10}},
      {-2.5, 2.5, 4, {-2, -1, 0, 1, 2}},
      {-0.01, 0.01, 4, {-0.01, -0.005, 0, 0.005, 0.01}},
      {0, 399, 5, {0, 100, 200, 300}},
  };
  for (const auto& c : cases) {
    const std::vector<double> ticks = daqctl::RoundTicks(c.lo, c.hi, c.target);
    ASSERT_EQ(ticks.size(), c.ticks.size()) << c.hi;
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], c.ticks[i], 1e-12) << c.hi;
  }
  daqctl::WaveformPlot plot;
  for (int i = 0; i < 400; ++i) plot.Add(std::sin(i / 10.0));
  const std::string svg = plot.Render("board 0, channel 0, +-5 V, 400 samples, 4 kHz", 5, 0.00025);
  EXPECT_NE(svg.find(">board 0, channel 0, +-5 V, 400 samples, 4 kHz</text>"), std::string::npos);
  for (const char* label : {">0 ms<", ">20 ms<", ">40 ms<", ">60 ms<", ">80 ms<", ">-4 V<", ">-2 V<", ">0 V<", ">4 V<"}) {
    EXPECT_NE(svg.find(label), std::string::npos) << label;
  }
  // Every label starts, centres or ends inside the picture with room for its text.
  const std::regex text(R"re(<text x="([0-9.]+)" y="[0-9.]+"( text-anchor="(\w+)")?>([^<]*)</text>)re");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator(); ++it) {
    const double x = std::stod((*it)[1]);
    const std::string anchor = (*it)[3];
    const double width = 7.0 * double((*it)[4].length());  // generous for 12 px sans-serif
    const double right = anchor == "end" ? x : anchor == "middle" ? x + width / 2 : x + width;
    EXPECT_LE(right, 900.0) << (*it)[0];
  }
}

TEST(WaveformPicture, MemoryStaysBoundedAndEveryPeakShows) {
  // Ten million samples of 0 V with one spike to full scale: the picture has
  // at most two points per pixel column, and the spike among them.
  daqctl::WaveformPlot plot;
  for (int i = 0; i < 10000000; ++i) plot.Add(i == 6543210 ? 5.0 : 0.0);
  const std::string svg = plot.Render("spike", 5, std::nullopt);
  const size_t points = svg.find("points=\"");
  ASSERT_NE(points, std::string::npos);
  const std::string list = svg.substr(points + 8, svg.find('"', points + 8) - points - 8);
  const size_t count = size_t(std::count(list.begin(), list.end(), ' '));
  EXPECT_LE(count, 2 * 2 * daqctl::WaveformPlot::kColumns);
  EXPECT_GE(count, 2 * daqctl::WaveformPlot::kColumns);
  EXPECT_NE(list.find(",40.0 "), std::string::npos) << "the spike reaches the top of the plot area";
  EXPECT_EQ(plot.samples(), 10000000u);
}

}  // namespace
