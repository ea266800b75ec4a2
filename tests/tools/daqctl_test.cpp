// daqctl run as a user runs it: a process with arguments, on the bench of a
// scenario file, judged by its output and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "daqctl_run.h"

namespace {

TEST(Daqctl, ListShowsEveryBoardOfTheScenarioWithItsSlot) {
  const ToolRun r = Daqctl("--sim " + Scenario("lab_bench.json") + " list");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "Relay boards (Korvel): 1")) << r.out;
  EXPECT_TRUE(Contains(r.out, "KORVEL   0:06")) << r.out;
  EXPECT_TRUE(Contains(r.out, "Multifunction boards (Dremor): 1")) << r.out;
  EXPECT_TRUE(Contains(r.out, "VARNO    1:02")) << r.out;

  const ToolRun rack = Daqctl("--sim " + Scenario("relay_rack.json") + " list");
  ASSERT_EQ(rack.status, 0) << rack.err;
  EXPECT_TRUE(Contains(rack.out, "Relay boards (Korvel): 4")) << rack.out;
  EXPECT_TRUE(Contains(rack.out, "3  LUMAR    3:01")) << rack.out;
  EXPECT_TRUE(Contains(rack.out, "Multifunction boards (Dremor): 0 (there is no multifunction board on this machine)"))
      << rack.out;
}

TEST(Daqctl, ItsOwnOptionsMayFollowTheCommand) {
  // `daqctl list --sim FILE` is `daqctl --sim FILE list`: the same bench, the
  // same output (the built-in bench has two relay boards, this one has one).
  const std::string file = Scenario("lab_bench.json");
  for (const auto& [before, after] : {std::pair{"--sim " + file + " list", "list --sim " + file},
                                      std::pair{"--sim " + file + " relay --board 0 --set 010",
                                                "relay --board 0 --set 010 --sim " + file},
                                      std::pair{std::string("--version"), std::string("list --version")}}) {
    const ToolRun first = Daqctl(before), second = Daqctl(after);
    EXPECT_EQ(first.status, 0) << before << "\n" << first.err;
    EXPECT_EQ(second.status, 0) << after << "\n" << second.err;
    EXPECT_EQ(first.out, second.out) << after;
  }
  EXPECT_TRUE(Contains(Daqctl("list --sim " + file).out, "Relay boards (Korvel): 1"));
  const ToolRun twice = Daqctl("list relay");
  EXPECT_EQ(twice.status, 2);
  EXPECT_TRUE(Contains(twice.err, "not expected: relay")) << twice.err;
}

TEST(Daqctl, RelayWritesTheOutputsAndReadsInputsAndRelayStatesBack) {
  ToolRun r = Daqctl("--sim " + Scenario("lab_bench.json") + " relay --board 0 --set 0xA5A5");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "outputs 0xa5a5")) << r.out;
  EXPECT_TRUE(Contains(r.out, "inputs  0x8001")) << r.out;

  // --port with the output register's own address reads the relays back.
  r = Daqctl("--sim " + Scenario("relay_rack.json") + " list");
  const size_t row = r.out.find("1  LUMAR");
  ASSERT_NE(row, std::string::npos) << r.out;
  std::istringstream fields(r.out.substr(row, r.out.find('\n', row) - row));
  std::string number, model, slot, base0, base1, block;  // the board block is base word 2
  fields >> number >> model >> slot >> base0 >> base1 >> block;
  ASSERT_EQ(block.rfind("0x", 0), 0u) << r.out;
  r = Daqctl("--sim " + Scenario("relay_rack.json") + " relay --board 1 --set 0x3C --port " + block);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "inputs  0x3c")) << r.out;
}

TEST(Daqctl, PacerAcquisitionReturnsTheScenarioSignals) {
  // Channel 2 carries a steady 2.5 V: every sample within one code step.
  ToolRun r = Daqctl("--sim " + Scenario("lab_bench.json") + " acquire --board 0 --channel 2 --count 50");
  ASSERT_EQ(r.status, 0) << r.err;
  for (double v : CsvVolts(r.out, 1000 / 4e6)) EXPECT_NEAR(v, 2.5, 10.0 / 2048);

  // Channel 0 carries a 4 V, 50 Hz sine: 4 kHz sampling over 5 periods sees
  // its peaks and ten zero crossings.
  r = Daqctl("--sim " + Scenario("lab_bench.json") + " acquire -b 0 -c 0 -r 1 -d 1000 -n 400");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<double> v = CsvVolts(r.out, 1000 / 4e6);
  ASSERT_EQ(v.size(), 400u);
  double lo = 1e9, hi = -1e9;
  int crossings = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    lo = std::min(lo, v[i]);
    hi = std::max(hi, v[i]);
    if (i > 0 && (v[i - 1] < 0) != (v[i] < 0)) ++crossings;
  }
  EXPECT_NEAR(hi, 4.0, 0.01);
  EXPECT_NEAR(lo, -4.0, 0.01);
  EXPECT_EQ(crossings, 10);
}

TEST(Daqctl, BackgroundAcquisitionDeliversEverySampleOfTheSignal) {
  // 100 kHz on the 2.5 V channel: the samples arrive under interrupt while
  // daqctl waits; all of them are fetched, in order, on the time axis.
  ToolRun r = Daqctl("--sim " + Scenario("lab_bench.json") +
                     " acquire --mode background -c 2 -d 40 -n 3000 --no-progress");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<double> v = CsvVolts(r.out, 40 / 4e6);
  ASSERT_EQ(v.size(), 3000u);
  for (double x : v) EXPECT_NEAR(x, 2.5, 10.0 / 2048);

  // No upper limit on the count any more; none is still no acquisition.
  r = Daqctl("--sim " + Scenario("lab_bench.json") + " acquire --mode background -n 0");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "--count must be 1 or more")) << r.err;
}

TEST(Daqctl, AcquisitionWritesJsonAndAPicture) {
  const std::string stem = ::testing::TempDir() + "acq_" + std::to_string(getpid());
  const std::string json = stem + ".json", svg = stem + ".svg";
  const ToolRun r = Daqctl("--sim " + Scenario("lab_bench.json") + " acquire -c 1 -n 200 --format json -o " + json +
                       " --plot " + svg);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string j = Slurp(json);
  EXPECT_TRUE(Contains(j, "\"sample_period_s\": 0.00025")) << j.substr(0, 200);
  EXPECT_TRUE(Contains(j, "\"volts\"")) << j.substr(0, 200);
  const std::string picture = Slurp(svg);
  EXPECT_EQ(picture.rfind("<svg", 0), 0u);
  EXPECT_TRUE(Contains(picture, "<polyline"));
}

TEST(Daqctl, EveryErrorIsAClearMessageAndANonZeroExit) {
  const std::string lab = "--sim " + Scenario("lab_bench.json") + " ";
  const struct {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      {lab + "relay --board 7", 1, "there is no relay board 7"},
      {lab + "dio --board 3", 1, "there is no multifunction board 3"},
      {lab + "ai --channel 16", 2, "channel 16 does not exist"},
      {lab + "ai --range 5", 2, "unknown range code 5"},
      {lab + "acquire --divisor 0", 2, "--divisor must be 1 to 65535"},
      {lab + "acquire --count 70000", 2, "--count must be 1 to 65535"},
      {lab + "relay --set 0x1ZZ", 2, "not a number"},
      {lab + "relay --board 0 --set 0x10000", 2, "does not fit"},
      {"--sim " + Scenario("no_driver.json") + " list", 1, "cannot open the port-access driver"},
      {"--sim /nonexistent.json list", 2, "cannot read scenario"},
      {"frobnicate", 2, ""},
  };
  for (const auto& c : cases) {
    const ToolRun r = Daqctl(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, c.message)) << c.args << "\n" << r.err;
  }
}

TEST(Daqctl, TheTourRuns) {
  const ToolRun r = Daqctl("tour");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "$ daqctl list"));
  EXPECT_TRUE(Contains(r.out, "That is the tour."));
}

TEST(Daqctl, EveryLineTheTourShowsRunsAsItsOwnCommandWithTheOutputTheTourShows) {
  // Each step's line, run by itself on a fresh built-in bench, succeeds and
  // prints what the tour printed under it: the line shown is the line run.
  // The acquisitions write their files into a folder of this test's own.
  const std::string dir = ::testing::TempDir() + "daqctl_tour_" + std::to_string(getpid());
  ASSERT_TRUE(mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) << dir;
  const ToolRun tour = Daqctl("tour", dir);
  ASSERT_EQ(tour.status, 0) << tour.err;
  const std::string prompt = "$ daqctl ";
  std::vector<std::string> shown;
  for (const std::string& line : Lines(tour.out)) {
    if (line.rfind(prompt, 0) == 0) shown.push_back(line.substr(prompt.size()));
  }
  EXPECT_EQ(shown.size(), 8u) << tour.out;
  for (const std::string& args : shown) {
    const ToolRun step = Daqctl(args, dir);
    EXPECT_EQ(step.status, 0) << args << "\n" << step.err;
    EXPECT_TRUE(Contains(tour.out, "$ daqctl " + args + "\n" + step.out)) << args << "\n" << step.out;
  }
}

TEST(Daqctl, RangesChannelsAndDeviceNamesReadAsTheBoardsHaveThem) {
  const std::string rack = "--sim " + Scenario("relay_rack.json") + " ";
  const struct {
    std::string args;
    int status;
    bool onStdout;
    const char* text;
  } cases[] = {
      {"ai --help", 0, true,
       "range code: 0 +-10 V, 1 +-5, 2 +-2.5, 3 +-1.25, 16 +-10, 17 +-1, 18 +-0.1, 19 +-0.01"},
      {"ai --help", 0, true, "input channel 0-15"},
      {"acquire --help", 0, true, "input channel 0-15"},
      {"ai --range 4", 2, false,
       "daqctl: unknown range code 4: use 0 (+-10 V), 1 (+-5 V), 2 (+-2.5 V), 3 (+-1.25 V), 16 (+-10 V), "
       "17 (+-1 V), 18 (+-0.1 V) or 19 (+-0.01 V)\n"},
      {"acquire --range 20", 2, false, "daqctl: unknown range code 20: use 0 (+-10 V)"},
      {"acquire --channel 16", 2, false, "daqctl: channel 16 does not exist: the board has channels 0 to 15\n"},
      {"--sim " + Scenario("no_driver.json") + " list", 1, false,
       "daqctl: cannot open the port-access driver \\\\.\\kelvra: it is not installed\n"},
      {rack + "list", 0, true, "Multifunction boards (Dremor): 0 (there is no multifunction board on this machine)\n"},
      {rack + "dio", 1, false, "daqctl: there is no multifunction board on this machine\n"},
  };
  for (const auto& c : cases) {
    const ToolRun r = Daqctl(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_TRUE(Contains(c.onStdout ? r.out : r.err, c.text)) << c.args << "\n" << r.out << r.err;
  }
}

TEST(Daqctl, RawSamplesCarryTheVoltsTheLibraryGivesForTheirCodes) {
  // Board 1 of the built-in bench has a 0.08 V sine on channel 0; the bench
  // runs the same way every time, so the raw and the converted acquisition
  // see the same codes. The volts of the raw one are the library's to the
  // last digit, and (code - 2048) / 2048 of the range's full scale.
  const struct {
    unsigned code;
    double fullScale;
  } ranges[] = {{0, 10}, {1, 5}, {2, 2.5}, {3, 1.25}, {16, 10}, {17, 1}, {18, 0.1}, {19, 0.01}};
  for (const auto& range : ranges) {
    const std::string args = "acquire -b 1 -c 0 -n 40 -r " + std::to_string(range.code);
    const ToolRun raw = Daqctl(args + " --raw");
    const ToolRun converted = Daqctl(args);
    ASSERT_EQ(raw.status, 0) << args << "\n" << raw.err;
    ASSERT_EQ(converted.status, 0) << args << "\n" << converted.err;
    const std::vector<std::string> rawLines = CsvTable(raw.out), convertedLines = CsvTable(converted.out);
    ASSERT_EQ(rawLines.size(), 41u) << raw.out;
    ASSERT_EQ(convertedLines.size(), 41u) << converted.out;
    EXPECT_EQ(rawLines[0], "index,time_s,volts,code,over_range");
    for (size_t i = 1; i < rawLines.size(); ++i) {
      const std::vector<std::string> r = Fields(rawLines[i]), c = Fields(convertedLines[i]);
      ASSERT_EQ(r.size(), 5u) << rawLines[i];
      ASSERT_EQ(c.size(), 4u) << convertedLines[i];
      EXPECT_EQ(r[2], c[2]) << "range " << range.code << ", sample " << i - 1;
      const double exact = (std::stod(r[3]) - 2048.0) / 2048.0 * range.fullScale;
      EXPECT_NEAR(std::stod(r[2]), exact, range.fullScale * 1e-7) << "range " << range.code << ": " << rawLines[i];
    }
  }
}

}  // namespace
