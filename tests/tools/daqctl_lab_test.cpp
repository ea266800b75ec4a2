// daqctl as a lab instrument, run as a process on bench scenarios: numbers
// as a lab writes them, rates the converter can follow, recordings that
// describe themselves and survive an interruption or an overrun, failures
// that are never reported as success.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "daqctl_run.h"

namespace {

using nlohmann::json;

const std::string kLab = "--sim " + Scenario("lab_bench.json") + " ";
const std::string kFastClock = "--sim " + TestScenario("fast_clock.json") + " ";

struct Case {
  std::string args;
  int status;
  std::string text;  // expected in standard output (status 0) or standard error
};

void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const ToolRun r = Daqctl(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out << r.err;
    EXPECT_TRUE(Contains(c.status == 0 ? r.out : r.err, c.text)) << c.args << "\n" << r.out << r.err;
  }
}

json ReadJson(const std::string& path) { return json::parse(Slurp(path)); }

TEST(DaqctlNumbers, ALeadingZeroIsDecimalInEveryOptionAndOtherNotationsAreRefused) {
  ExpectCases({
      // Options daqctl converts itself.
      {kLab + "relay --board 0 --set 010", 0, "outputs 0x000a"},
      {kLab + "relay --board 0 --set 08", 0, "outputs 0x0008"},
      {kLab + "relay --board 0 --set 0b1010", 0, "outputs 0x000a"},
      {kLab + "relay --board 0 --set 0X00A5", 0, "outputs 0x00a5"},
      {kLab + "acquire --channel 2 --count 3 --divisor 0400", 0, "# divisor: 400"},
      // Options CLI11 converts.
      {kLab + "ai --channel 010 --range 0 --count 1", 0, "channel 10, +-10 V: "},
      {kLab + "ai --channel 2 --range 02 --count 1", 0, "channel 2, +-2.5 V: "},
      {kLab + "relay --board 00 --bar 02 --set 1", 0, "outputs 0x0001"},
      {kLab + "timer --counter 01 --divisor 0100", 0, "counter 1 runs as a rate generator dividing by 100"},
      {kLab + "ai --channel 0x2 --board 0b0", 0, "channel 2, +-10 V: "},
      // Refused.
      {kLab + "relay --set 0x", 2, "--set: not a number: '0x'"},
      {kLab + "relay --set 0o17", 2, "--set: not a number: '0o17'"},
      {kLab + "relay --set 1e3", 2, "--set: not a number: '1e3'"},
      {kLab + "ai --channel 0x1G", 2, "not a number: '0x1G'"},
      {kLab + "ai --count 1e3", 2, "not a number: '1e3'"},
      {kLab + "ai --board +0", 2, "not a number: '+0'"},
  });
  // The count CLI11 reads: "010" readings are ten.
  const ToolRun r = Daqctl(kLab + "ai --channel 2 --count 010");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 10u) << r.out;
}

TEST(DaqctlNumbers, AnUnknownCommandIsNamed) {
  ExpectCases({
      {"lst", 2, "daqctl: unknown command 'lst' (the commands: list, relay, dio, timer, ai, acquire, tour"},
      {kLab + "acquir --count 3", 2, "daqctl: unknown command 'acquir'"},
      {"--sim lst", 2, "a command is needed"},  // "lst" is the scenario file there
  });
  const ToolRun extra = Daqctl(kLab + "list extra");
  EXPECT_EQ(extra.status, 2);
  EXPECT_FALSE(Contains(extra.err, "unknown command")) << extra.err;
}

TEST(DaqctlRates, ADivisorTheConverterCannotFollowIsRefusedWithTheSmallestThatWorks) {
  ExpectCases({
      // 4 MHz: 8 us per conversion is 32 clocks; the pacer's polling 4 more.
      {kLab + "acquire -d 3", 2, "the smallest divisor that works in pacer mode is 36 (111.111 kHz)"},
      {kLab + "acquire -d 35", 2, "--divisor 35 is too fast for the converter"},
      {kLab + "acquire -d 1", 2, "the smallest divisor that works in pacer mode is 36"},
      {kLab + "acquire --mode background -d 31", 2, "the smallest divisor that works in background mode is 32 (125 kHz)"},
      // 10 MHz.
      {kFastClock + "acquire -d 89", 2, "the smallest divisor that works in pacer mode is 90"},
      {kFastClock + "acquire --mode background -d 79", 2, "the smallest divisor that works in background mode is 80"},
      // The clock the user states is the one checked.
      {kLab + "acquire -d 8 --clock 1e6", 2, "at the 1 MHz counter clock"},
      // A duration needs as many samples as a pacer block holds.
      {kLab + "acquire --duration 20 -d 1000", 2, "--duration 20 s is 80000 samples at 4 kHz"},
  });
}

TEST(DaqctlRates, TheRateUsedIsTheOneWrittenAndTheSamplesFollowIt) {
  const struct {
    std::string args;
    double period;
    double volts;
  } cases[] = {
      {kLab + "acquire -c 2 -d 36 -n 300", 36 / 4e6, 2.5},
      {kLab + "acquire -c 2 -d 32 -n 3000 --mode background --no-progress", 32 / 4e6, 2.5},
      {kFastClock + "acquire -c 0 -d 90 -n 300", 90 / 10e6, 1.5},
      {kFastClock + "acquire -c 0 -d 80 -n 3000 --mode background --no-progress", 80 / 10e6, 1.5},
      {kLab + "acquire -c 2 -d 400 --duration 0.01", 400 / 4e6, 2.5},
  };
  for (const auto& c : cases) {
    const ToolRun r = Daqctl(c.args);
    ASSERT_EQ(r.status, 0) << c.args << "\n" << r.err;
    const auto comments = CsvComments(r.out);
    EXPECT_DOUBLE_EQ(std::stod(comments.at("sample_period_s")), c.period) << c.args;
    EXPECT_NEAR(std::stod(comments.at("sample_rate_hz")), 1 / c.period, 1e-6) << c.args;
    const std::vector<double> volts = CsvVolts(r.out, c.period);
    EXPECT_EQ(std::to_string(volts.size()), comments.at("sample_count")) << c.args;
    for (double v : volts) ASSERT_NEAR(v, c.volts, 10.0 / 2048) << c.args;
  }
  // 10 ms at 10 kHz.
  EXPECT_EQ(CsvComments(Daqctl(cases[4].args).out).at("sample_count"), "100");
  // The summary names the rate.
  const std::string file = TempFile("rate.csv");
  const ToolRun r = Daqctl(kLab + "acquire -c 2 -d 36 -n 10 -o " + file);
  EXPECT_TRUE(Contains(r.err, "wrote 10 samples to " + file + " at 111.111 kHz (divisor 36 of the 4 MHz counter "
                              "clock)"))
      << r.err;
}

TEST(DaqctlRates, TheClockIsAFrequencyAnEightTwoFiveFourCanCount) {
  std::vector<Case> cases;
  for (const char* clock : {"0", "nan", "-1", "1e-300", "inf", "0x10", "2e7", "4MHz"}) {
    cases.push_back({kLab + "acquire --mode background --clock " + clock, 2,
                     std::string("--clock: '") + clock + "' is no counter clock"});
  }
  ExpectCases(cases);
}

TEST(DaqctlRates, APacerTimeOutNamesATooSmallDivisorOrAStoppedPacerNeverATooLargeOne) {
  // The stated clock (100 kHz) lets divisor 2 pass; the board runs at 4 MHz,
  // where 2 clocks are far too fast for the converter.
  const ToolRun r = Daqctl(kLab + "acquire -c 2 -d 2 -n 10 --clock 1e5");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "differs from the board's counter clock (4 MHz)")) << r.err;
  EXPECT_TRUE(Contains(r.err, "the pacer-clocked block timed out")) << r.err;
  EXPECT_TRUE(Contains(r.err, "is the board's counter clock running?")) << r.err;
  EXPECT_FALSE(Contains(r.err, "too large")) << r.err;
  EXPECT_EQ(CsvComments(r.out).at("end").rfind("failed: the pacer-clocked block timed out", 0), 0u) << r.out;
}

// daqctl started in the background, its output to files.
struct Spawned {
  pid_t pid;
  std::string err;
};

Spawned Spawn(const std::string& args) {
  const std::string err = TempFile("spawn.err");
  const std::string cmd = "exec " + std::string(DAQCTL_PATH) + " " + args + " >/dev/null 2>" + err;
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return Spawned{pid, err};
}

int WaitFor(pid_t pid) {
  int raw = 0;
  waitpid(pid, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Waits until `path` holds at least `bytes` bytes (at most 20 s).
bool WaitForSize(const std::string& path, off_t bytes) {
  for (int i = 0; i < 2000; ++i) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && st.st_size >= bytes) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(DaqctlAcquire, ASignalStopsTheBoardAndLeavesACompleteFileOfEverySampleTaken) {
  const struct {
    int signal;
    const char* name;
    const char* format;
  } cases[] = {{SIGINT, "SIGINT", "csv"}, {SIGTERM, "SIGTERM", "json"}, {SIGINT, "SIGINT", "json"}};
  for (const auto& c : cases) {
    const std::string file = TempFile(std::string("signal.") + c.format), report = TempFile("signal.report");
    std::remove(file.c_str());
    const Spawned run = Spawn(kLab + "--sim-report " + report + " acquire --mode background -c 2 -d 40 --continuous " +
                              "--format " + c.format + " -o " + file);
    ASSERT_TRUE(WaitForSize(file, 20000)) << "no samples arrived";
    kill(run.pid, c.signal);
    EXPECT_EQ(WaitFor(run.pid), 128 + c.signal) << c.name;
    const std::string err = Slurp(run.err);
    EXPECT_TRUE(Contains(err, std::string("daqctl: interrupted by ") + c.name + ": the acquisition was stopped; "))
        << err;

    uint64_t samples = 0;
    if (std::string(c.format) == "csv") {
      const std::string csv = Slurp(file);
      const auto comments = CsvComments(csv);
      const std::vector<std::string> table = CsvTable(csv);
      samples = std::stoull(comments.at("sample_count"));
      ASSERT_EQ(table.size(), samples + 1);
      EXPECT_EQ(Fields(table.back()).at(0), std::to_string(samples - 1)) << table.back();
      EXPECT_EQ(comments.at("end"), std::string("interrupted by ") + c.name);
      EXPECT_EQ(Lines(csv).back(), std::string("# end: interrupted by ") + c.name);
    } else {
      const json j = ReadJson(file);  // throws unless the document is complete
      samples = j.at("sample_count").get<uint64_t>();
      EXPECT_EQ(j.at("volts").size(), samples);
      EXPECT_EQ(j.at("end"), std::string("interrupted by ") + c.name);
    }
    EXPECT_GT(samples, 1000u);
    EXPECT_TRUE(Contains(err, std::to_string(samples) + " samples saved to " + file)) << err;
    // The board was stopped, and every sample the driver took was saved.
    const json bench = ReadJson(report);
    EXPECT_FALSE(bench["interrupt_drivers"][0]["armed"].get<bool>());
    EXPECT_GE(bench["interrupt_drivers"][0]["stops"].get<int>(), 1);
    EXPECT_EQ(bench["interrupt_drivers"][0]["interrupts"].get<uint64_t>(), samples);
    EXPECT_TRUE(bench["multifunction_boards"][0]["pacer_parked"].get<bool>());
  }
}

TEST(DaqctlAcquire, AProgressLineShowsSamplesRateTimeAndBacklogOnATerminal) {
  // `script` gives daqctl a terminal; what it shows comes back on its output.
  const std::string file = TempFile("progress.csv");
  const std::string cmd = "script -qfec '" + std::string(DAQCTL_PATH) + " " + kLab +
                          "acquire --mode background -c 2 -d 40 -n 30000 -o " + file + "' /dev/null";
  std::string shown;
  if (std::FILE* p = popen(cmd.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) shown.append(buffer, n);
    EXPECT_EQ(pclose(p), 0) << shown;
  }
  EXPECT_TRUE(std::regex_search(shown, std::regex(R"(\r  30000 samples of 30000 \(100%\), 1?[0-9]{2}\.[0-9] kHz, )"
                                                  R"([0-9]+\.[0-9] s, backlog [0-9]+ *\r?\n)")))
      << shown;
  // Not on a terminal, or not wanted: no progress line.
  const ToolRun quiet = Daqctl(kLab + "acquire --mode background -c 2 -d 40 -n 3000 -o " + file);
  EXPECT_FALSE(Contains(quiet.err, "samples of")) << quiet.err;
}

TEST(DaqctlAcquire, ALongPacerBlockIsAnnouncedWithItsDuration) {
  const ToolRun r = Daqctl(kLab + "acquire -c 2 -d 400 -n 10000 -o " + TempFile("long.csv"));
  EXPECT_TRUE(Contains(r.err, "acquiring 10000 samples at 10 kHz: about 1 s (a pacer block runs to its end)\n"))
      << r.err;
  EXPECT_FALSE(Contains(Daqctl(kLab + "acquire -c 2 -d 400 -n 2000").err, "acquiring")) << "a short block";
  EXPECT_FALSE(Contains(Daqctl(kLab + "acquire -c 2 -d 400 -n 10000 --no-progress -o " + TempFile("long.csv")).err,
                        "acquiring"));
}

TEST(DaqctlAcquire, AnOverrunStopsWithAnErrorAndKeepsTheSamplesBeforeIt) {
  // The driver holds 1000 samples; at 125 kHz the 20 ms between fetches bring
  // 2500.
  const std::string file = TempFile("overrun.csv"), report = TempFile("overrun.report");
  const ToolRun r = Daqctl(kLab + "--sim-report " + report + " --sim-driver-capacity 1000 acquire --mode background " +
                           "-c 2 -d 32 -n 200000 --no-progress -o " + file);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "daqctl: overrun: ")) << r.err;
  const std::string csv = Slurp(file);
  const auto comments = CsvComments(csv);
  EXPECT_TRUE(Contains(r.err, "; " + comments.at("sample_count") + " samples saved to " + file)) << r.err;
  EXPECT_EQ(CsvTable(csv).size(), std::stoull(comments.at("sample_count")) + 1);
  EXPECT_EQ(comments.at("end").rfind("failed: overrun: ", 0), 0u) << comments.at("end");
  EXPECT_FALSE(ReadJson(report)["interrupt_drivers"][0]["armed"].get<bool>());
}

TEST(DaqctlRecording, TheFilesDescribeTheAcquisition) {
  const std::string jsonFile = TempFile("meta.json");
  const std::string common = kLab + "acquire -b 0 -c 2 -r 1 -d 1000 -n 5";
  const ToolRun csv = Daqctl(common);
  const ToolRun js = Daqctl(common + " --format json -o " + jsonFile);
  ASSERT_EQ(csv.status, 0) << csv.err;
  ASSERT_EQ(js.status, 0) << js.err;
  const std::vector<std::string> lines = Lines(csv.out);
  const std::vector<std::string> head(lines.begin(), lines.begin() + 13);
  const std::vector<std::string> expected = {
      "# tool: daqctl " DAQCTL_EXPECTED_VERSION " (simulated bench)",
      "# board: 0",
      "# slot: 1:02",
      "# channel: 2",
      "# range_code: 1",
      "# range_volts: 5",
      "# mode: pacer",
      "# divisor: 1000",
      "# counter_clock_hz: 4000000",
      "# sample_rate_hz: 4000",
      "# sample_period_s: 0.00025",
      "",  // start time, below
      "index,time_s,volts,over_range",
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    if (i != 11) {
      EXPECT_EQ(head[i], expected[i]);
    }
  }
  EXPECT_TRUE(std::regex_match(head[11], std::regex(R"(# start_time: \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
      << head[11];
  EXPECT_EQ(lines[13], "0,0,2.5,0");
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"# over_range_count: 0", "# sample_count: 5", "# end: complete"}));

  // The JSON document carries the same fields, the same samples.
  const json j = ReadJson(jsonFile);
  const auto comments = CsvComments(csv.out);
  for (const char* key : {"tool", "slot", "mode", "end"}) EXPECT_EQ(j.at(key).get<std::string>(), comments.at(key));
  for (const char* key : {"board", "channel", "range_code", "divisor", "sample_count", "over_range_count"}) {
    EXPECT_EQ(std::to_string(j.at(key).get<int>()), comments.at(key)) << key;
  }
  for (const char* key : {"range_volts", "counter_clock_hz", "sample_rate_hz", "sample_period_s"}) {
    EXPECT_DOUBLE_EQ(j.at(key).get<double>(), std::stod(comments.at(key))) << key;
  }
  const std::vector<double> volts = CsvVolts(csv.out, 0.00025);
  EXPECT_EQ(j.at("volts").get<std::vector<double>>(), volts);
  EXPECT_TRUE(j.at("over_range").empty());
}

TEST(DaqctlRecording, SamplesAtTheEndsOfTheRangeAreFlaggedOverRange) {
  // A 4 V sine on a +-1.25 V range: its tops and bottoms read 4095 and 0.
  const std::string jsonFile = TempFile("over.json");
  const std::string common = kLab + "acquire -c 0 -r 3 -d 1000 -n 400 --raw";
  const ToolRun csv = Daqctl(common);
  const ToolRun js = Daqctl(common + " --format json -o " + jsonFile);
  ASSERT_EQ(csv.status, 0) << csv.err;
  ASSERT_EQ(js.status, 0) << js.err;
  const std::vector<std::string> table = CsvTable(csv.out);
  ASSERT_EQ(table[0], "index,time_s,volts,code,over_range");
  std::set<int> flagged;
  std::set<int> ends;
  for (size_t i = 1; i < table.size(); ++i) {
    const std::vector<std::string> f = Fields(table[i]);
    ASSERT_EQ(f.size(), 5u) << table[i];
    if (f[4] == "1") flagged.insert(int(i - 1));
    if (f[3] == "0" || f[3] == "4095") ends.insert(int(i - 1));
    EXPECT_TRUE(f[4] == "0" || f[4] == "1") << table[i];
  }
  EXPECT_GT(ends.size(), 100u);
  EXPECT_EQ(flagged, ends);
  EXPECT_EQ(CsvComments(csv.out).at("over_range_count"), std::to_string(ends.size()));
  EXPECT_TRUE(Contains(csv.err, std::to_string(ends.size()) + " of 400 samples lie at an end of the range")) << csv.err;
  EXPECT_EQ(ReadJson(jsonFile).at("over_range").get<std::set<int>>(), ends);

  // ai flags its readings the same way, and says how many.
  const ToolRun ai = Daqctl(kLab + "ai -c 2 -r 2 -n 3");  // 2.5 V on a +-2.5 V range
  ASSERT_EQ(ai.status, 0) << ai.err;
  EXPECT_EQ(Lines(ai.out), std::vector<std::string>(3, "channel 2, +-2.5 V: 2.498779 V  over range"));
  EXPECT_TRUE(Contains(ai.err, "3 of 3 readings lie at an end of the +-2.5 V range")) << ai.err;
}

TEST(DaqctlRecording, ReadingsNameTheirChannelRangeAndUnit) {
  ExpectCases({
      {kLab + "ai -c 2 -r 0 -n 2", 0, "channel 2, +-10 V: 2.500000 V\nchannel 2, +-10 V: 2.500000 V\n"},
      {kLab + "ai -c 2 -r 0 --raw", 0, "channel 2, +-10 V: code 2560\n"},
  });
}

TEST(DaqctlList, OneScanPerLibraryNoSelectionAndNoSleep) {
  // Each library's scan alone: --version opens Dremor's drivers and scans
  // (nothing else), and a relay board that does not exist ends `relay` right
  // after Korvel's scan.
  for (const std::string& bench : {std::string(), kLab}) {
    const std::string report = TempFile("list.report");
    auto accesses = [&](const std::string& args) {
      Daqctl(bench + "--sim-report " + report + " " + args);
      return ReadJson(report);
    };
    const uint64_t dremorScan = accesses("--version")["port_accesses"].get<uint64_t>();
    const uint64_t korvelScan = accesses("relay --board 9")["port_accesses"].get<uint64_t>();
    const json list = accesses("list");
    EXPECT_EQ(list["port_accesses"].get<uint64_t>(), dremorScan + korvelScan) << bench;
    EXPECT_EQ(list["sleep_calls"].get<int>(), 0) << bench;
    EXPECT_EQ(list["slept_ms"].get<int>(), 0) << bench;
    EXPECT_EQ(list["open_handles"].get<int>(), 0) << bench;
  }
  // --verbose selects each multifunction board (reset, 100 ms) and says so.
  const std::string report = TempFile("verbose.report");
  const ToolRun verbose = Daqctl("--sim-report " + report + " list --verbose");
  ASSERT_EQ(verbose.status, 0) << verbose.err;
  EXPECT_EQ(ReadJson(report)["sleep_calls"].get<int>(), 2);
  for (const char* text : {"(each board is selected to read its interrupt line: selecting a board resets it)",
                           "  #  model    slot    io     dio    ad     irq\n",
                           "     interrupt driver: 2.05\n",
                           "     analog inputs: 16 channels, 12 bits (4096 codes), ranges 0 +-10 V, 1 +-5, 2 +-2.5",
                           "fastest rate at the 4 MHz counter clock: 125 kHz in background mode (divisor 32), "
                           "111.111 kHz in pacer mode (divisor 36)",
                           "     16 relays, 16 inputs; board block (base2)", "     8 relays, 8 inputs;"}) {
    EXPECT_TRUE(Contains(verbose.out, text)) << text << "\n" << verbose.out;
  }
  const ToolRun plain = Daqctl("list");
  EXPECT_FALSE(Contains(plain.out, "irq")) << plain.out;
}

TEST(DaqctlVersion, TheVersionsOfTheToolTheLibrariesAndTheDriver) {
  const std::string line = "daqctl " DAQCTL_EXPECTED_VERSION " (simulated bench), Korvel 2.01, Dremor 3.00, ";
  ExpectCases({
      {"--version", 0, line + "interrupt driver 2.05\n"},
      {kLab + "list", 0, line + "interrupt driver 2.05\nRelay boards (Korvel): 1\n"},
      {"--sim " + Scenario("relay_rack.json") + " list", 0, line + "interrupt driver none\n"},
      // The interrupt device opens before the port-access driver fails.
      {"--sim " + Scenario("no_driver.json") + " --version", 0, line + "interrupt driver 2.05\n"},
  });
  EXPECT_EQ(Daqctl("--version").out.rfind(line, 0), 0u);
}

TEST(DaqctlFailures, AFailedWriteToStandardOutputIsAFailure) {
  const std::string report = TempFile("full.report");
  for (const char* args : {"ai --count 2000", "ai --count 1", "acquire --count 100", "list", "dio",
                           "--version", "timer --divisor 100", "relay --board 0",
                           "acquire --mode background -n 3000 --no-progress"}) {
    const ToolRun r = Daqctl("--sim-report " + report + " " + args, "", "/dev/full");
    EXPECT_EQ(r.status, 1) << args << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, "daqctl: cannot write to standard output: ")) << args << "\n" << r.err;
    EXPECT_FALSE(Contains(r.err, "terminate")) << args << "\n" << r.err;
    // A background acquisition that cannot write is stopped all the same.
    const json bench = ReadJson(report);
    for (const json& driver : bench["interrupt_drivers"]) EXPECT_FALSE(driver["armed"].get<bool>()) << args;
  }
}

TEST(DaqctlFailures, RelayPortsStayInTheBoardsIoWindows) {
  ExpectCases({
      {kLab + "relay --bar 3 --set 0xFF", 2, "--bar 3 is no I/O window of a relay board"},
      {kLab + "relay --bar 0 --set 0xFF", 2, "--bar 0 is no I/O window of a relay board"},
      {kLab + "relay --bar 5", 2, "--bar 5 is no I/O window"},
      {kLab + "relay --out-offset 0xFFFFFFFF --set 1", 2, "--out-offset 0xffffffff lies outside the board block"},
      {kLab + "relay --in-offset 0x10", 2, "--in-offset 0x10 lies outside the board block (base2, offsets 0 to 0xf)"},
      {kLab + "relay --bar 1 --in-offset 0x80", 2, "lies outside the bridge's I/O window"},
      {kLab + "relay --out-offset 0xF --set 1", 2, "a 16-bit access at offset 0xf runs past the end of the board block"},
      {kLab + "relay --bar 1 --in-offset 0x7E", 0, "read from port"},
      {kLab + "relay --help", 0, "not checked against the board's windows"},
  });
}

TEST(DaqctlFailures, ThePictureNeverOverwritesTheSamples) {
  const std::string dir = TempFile("samefile");
  mkdir(dir.c_str(), 0700);
  const std::string file = dir + "/wave.csv";
  for (const std::string& plot : {file, dir + "/./wave.csv", dir + "/../" + dir.substr(dir.rfind('/') + 1) + "/wave.csv"}) {
    std::ofstream(file) << "keep\n";
    const ToolRun r = Daqctl(kLab + "acquire -n 10 -o " + file + " --plot " + plot);
    EXPECT_EQ(r.status, 2) << plot;
    EXPECT_TRUE(Contains(r.err, "--output and --plot name the same file")) << r.err;
    EXPECT_EQ(Slurp(file), "keep\n");
  }
}

TEST(DaqctlFailures, DriverFailuresNameTheirCause) {
  const std::string refusing = "--sim " + TestScenario("refusing_drivers.json") + " ";
  const std::string noInterrupt = "--sim " + TestScenario("no_interrupt_driver.json") + " ";
  const std::string rack = "--sim " + Scenario("relay_rack.json") + " ";
  const char* refused =
      "cannot open the port-access driver \\\\.\\kelvra: it refused the open (another program holds it, or access "
      "was denied)\n";
  ExpectCases({
      {refusing + "list", 1, refused},
      {refusing + "ai", 1, refused},
      {noInterrupt + "list", 0,
       "Multifunction boards (Dremor): 0 (cannot open the board's interrupt driver \\\\.\\VARNO0: it is not "
       "installed)\n"},
      {noInterrupt + "ai", 1, "daqctl: cannot open the board's interrupt driver \\\\.\\VARNO0: it is not installed\n"},
      {rack + "ai", 1, "daqctl: there is no multifunction board on this machine\n"},
  });
}

}  // namespace
