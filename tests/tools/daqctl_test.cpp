// daqctl run as a user runs it: a process with arguments, on the bench of a
// scenario file, judged by its output and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

ToolRun Daqctl(const std::string& args) {
  // CTest runs test cases as parallel processes: each gets files of its own.
  const std::string stem = ::testing::TempDir() + "daqctl_" + std::to_string(getpid());
  const std::string out = stem + ".out", err = stem + ".err";
  const std::string cmd = std::string(DAQCTL_PATH) + " " + args + " >" + out + " 2>" + err;
  const int raw = std::system(cmd.c_str());
  return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
}

std::string Scenario(const char* name) { return std::string(DAQCTL_SCENARIOS) + "/" + name; }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The volts column of daqctl's CSV output, with the time column checked to
// advance by `period` seconds.
std::vector<double> CsvVolts(const std::string& csv, double period) {
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("index,time_s,volts", 0), 0u) << line;
  std::vector<double> volts;
  while (std::getline(in, line)) {
    size_t index = 0;
    double t = 0, v = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%zu,%lf,%lf", &index, &t, &v), 3) << line;
    EXPECT_EQ(index, volts.size());
    EXPECT_NEAR(t, double(index) * period, 1e-9);
    volts.push_back(v);
  }
  return volts;
}

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
  EXPECT_TRUE(Contains(rack.out, "Multifunction boards (Dremor): 0 (no interrupt driver")) << rack.out;
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

  r = Daqctl("--sim " + Scenario("lab_bench.json") + " acquire --mode background -n 1000001");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "--count must be 1 to 1000000 in background mode")) << r.err;
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

}  // namespace
