// The daqctl fuzz target: command lines built from an input's bytes, run
// through daqctl's own RunCommandLine on the simulated bench.
//
// A command line is a subcommand (or a stray word), then options of every
// command in any order and form ("--count 5", "--count=5", "-n5", repeated,
// missing values), with values meant and hostile (numbers in every notation,
// out of range, negative, beyond 32 bits, empty, words); and now and then
// "--sim" with a scenario file: an example of tools/scenarios/, a missing
// file, or a scenario made from the input (scenario_text.h), which runs the
// scenario loader that the simulated daqctl carries.
//
// Rules after every command line:
//  - it returns an exit status of 0, 1 or 2, throws nothing and reports no
//    internal error; a failure comes with a message on standard error;
//  - with status 2 (the command line was wrong) nothing was touched: no
//    device opened, no port accessed (arguments are checked first);
//  - afterwards no handle is open (every path out of a command closes the
//    drivers), no port access was made without permission, no handle closed
//    twice, no heap block left;
//  - no sanitizer report (the sanitizer builds).
// Files the commands write land in a private temporary folder (the process
// works there), and the command lines that would run for minutes of bench
// time (the tour, background acquisitions, blocks of thousands of samples)
// are passed over.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "daqsim/bench.h"
#include "fuzz_report.h"
#include "fuzz_source.h"
#include "fuzz_targets.h"
#include "scenario_text.h"

#if !defined(DAQ_SCENARIO_DIR)
#error "the build defines DAQ_SCENARIO_DIR (tools/scenarios)"
#endif

namespace daqfuzz {
namespace {

// The process works in a folder of its own, made at the first input and
// removed at exit.
std::string g_scratch;

void RemoveScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(g_scratch, ignored);
}

void EnterScratchFolder() {
  if (!g_scratch.empty()) return;
  char dir[] = "/tmp/daq-fuzz-daqctl.XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) {
    std::perror("scratch folder");
    std::abort();
  }
  g_scratch = dir;
  std::atexit(RemoveScratchFolder);
}

const char* const kSubcommands[] = {"list", "relay", "dio", "timer", "ai", "acquire", "help", "--help", "-h", "",
                                    "lis", "relay relay"};
const char* const kOptions[] = {"--board", "-b", "--channel", "-c", "--counter", "--range", "-r", "--count",
                                "-n", "--divisor", "-d", "--set", "-s", "--port", "--bar", "--out-offset",
                                "--in-offset", "--raw", "--format", "--mode", "--output", "-o", "--plot", "--clock",
                                "--no-progress", "--help", "--sim", "--", "-", "--unknown", "--version",
                                "--verbose", "-v", "--sim-report", "--sim-driver-capacity"};
// Option values: numbers as daqctl reads them (decimal, 0x, 0b), at and
// beyond their limits, and words.
const char* const kValues[] = {"0", "1", "2", "3", "5", "15", "16", "17", "19", "20", "255", "256", "65535",
                               "65536", "4294967295", "4294967296", "18446744073709551616", "-1", "-0", "0x0",
                               "0xFFFF", "0x10000", "0X1f", "0b101", "0b", "0x", "010", "08", "1e3", "1.5", " 1",
                               "1 ", "", "abc", "pacer", "background", "csv", "json", "xml", "nan", "inf",
                               "out.csv", "out.json", "plot.svg", "no/such/dir/out.csv", "."};

std::string Token(FuzzSource& in) {
  if (in.Percent(5)) {
    std::string s;
    for (unsigned n = in.Below(6); n > 0; --n) {
      const char c = char(in.U8());
      if (c != '/' && c != 0) s += c;  // no path outside the scratch folder
    }
    return s;
  }
  return kValues[in.Below(sizeof kValues / sizeof kValues[0])];
}

// The scenario for --sim: an example, a file that is not there, or one made
// from the input.
std::string ScenarioFile(FuzzSource& in, CallLog& log) {
  switch (in.Below(6)) {
    case 0: return std::string(DAQ_SCENARIO_DIR) + "/" + in.OneOf<const char*>({"lab_bench.json", "no_driver.json",
                                                                                "relay_rack.json"});
    case 1: return "missing.json";
    default: {
      const std::string text = ScenarioText(in);
      FILE* f = std::fopen("scenario.json", "wb");
      if (!f) log.Fail("cannot write scenario.json");
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
      log.Add("scenario.json: %s", text.c_str());
      return "scenario.json";
    }
  }
}

std::vector<std::string> CommandLine(FuzzSource& in, CallLog& log) {
  std::vector<std::string> argv{"daqctl"};
  auto option = [&](const std::string& name) {
    if (name == "--sim") {
      argv.push_back(in.Percent(20) ? "--sim=" + ScenarioFile(in, log) : "--sim");
      if (argv.back() == "--sim" && in.Percent(80)) argv.push_back(ScenarioFile(in, log));
      return;
    }
    switch (in.Below(6)) {
      case 0: argv.push_back(name + "=" + Token(in)); break;                   // --count=5
      case 1: argv.push_back(name); break;                                     // a value missing
      case 2: argv.push_back(name.size() == 2 ? name + Token(in) : name); break;  // -n5
      default: argv.push_back(name); argv.push_back(Token(in)); break;        // --count 5
    }
  };
  if (in.Percent(20)) option("--sim");
  argv.push_back(in.Percent(90) ? kSubcommands[in.Below(6)] : kSubcommands[in.Below(sizeof kSubcommands / sizeof kSubcommands[0])]);
  for (unsigned n = in.Below(7); n > 0; --n) {
    if (in.Percent(90)) {
      option(kOptions[in.Below(sizeof kOptions / sizeof kOptions[0])]);
    } else {
      argv.push_back(Token(in));
    }
  }
  return argv;
}

// A number as daqctl's options read it, or -1.
long long AsNumber(const std::string& s) {
  if (s.empty() || s[0] == '-') return -1;
  char* end = nullptr;
  const bool binary = s.rfind("0b", 0) == 0 || s.rfind("0B", 0) == 0;
  const unsigned long long v = std::strtoull(binary ? s.c_str() + 2 : s.c_str(), &end, binary ? 2 : 0);
  return end && *end == 0 ? (long long)(v > 0xFFFFFFFFull ? 0xFFFFFFFFull : v) : -1;
}

// Command lines that would run for long: the tour, background, continuous
// and timed acquisitions (they follow the wall clock), the panel (it serves
// until stopped), and conversions by the thousand.
bool Affordable(const std::vector<std::string>& argv) {
  bool converts = false;
  for (const std::string& a : argv) {
    for (const char* slow : {"tour", "background", "continuous", "duration", "panel"}) {
      if (a.find(slow) != std::string::npos) return false;
    }
    converts = converts || a == "ai" || a == "acquire";
  }
  if (!converts) return true;
  for (const std::string& a : argv) {
    const size_t eq = a.find('=');
    const std::string value = eq == std::string::npos ? (a.size() > 2 && a[0] == '-' && a[1] != '-' ? a.substr(2) : a)
                                                      : a.substr(eq + 1);
    if (AsNumber(value) > 200) return false;
  }
  // Without a count, acquire takes 1000 samples at 1000 clocks each.
  for (const std::string& a : argv) {
    if (a.rfind("--count", 0) == 0 || a.rfind("-n", 0) == 0) return true;
  }
  for (const std::string& a : argv) {
    if (a == "acquire") return false;
  }
  return true;
}

// `relay` refuses a pattern wider than the board's relays (--set) and an
// access that runs past the end of the board's window (--in-offset,
// --out-offset at the last port of a KORVEL block) with status 2 only after
// opening the driver and scanning for the board, since both depend on the
// model found. Reported; passed over here until the tool judges what it can
// before touching the machine.
bool RelayJudgedOnTheBoard(const std::vector<std::string>& argv) {
  bool relay = false, boardDependent = false;
  for (const std::string& a : argv) {
    relay = relay || a == "relay";
    for (const char* option : {"--set", "-s", "--in-offset", "--out-offset"}) {
      boardDependent = boardDependent || a.rfind(option, 0) == 0;
    }
  }
  return relay && boardDependent;
}

// The process's own standard error, kept while a command line's goes to a
// file; the sanitizers report there.
int g_stderr = -1;

extern "C" __attribute__((weak)) void __sanitizer_set_report_fd(void* fd);

// Runs a command line with its standard output thrown away; returns its exit
// status, and what it wrote to standard error in *messages.
int Run(const std::vector<std::string>& argv, std::string* messages) {
  if (g_stderr < 0) {
    g_stderr = dup(2);
    if (__sanitizer_set_report_fd) __sanitizer_set_report_fd(reinterpret_cast<void*>(intptr_t(g_stderr)));
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const int savedOut = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  const int errors = open("stderr.txt", O_RDWR | O_CREAT | O_TRUNC, 0600);
  dup2(null, 1);
  dup2(errors, 2);
  close(null);
  const int status = daqctl::RunCommandLine(argv, daqctl::MachineSetup::kPrepare);
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(savedOut, 1);
  dup2(g_stderr, 2);
  close(savedOut);
  messages->clear();
  char chunk[4096];
  lseek(errors, 0, SEEK_SET);
  for (ssize_t n; (n = read(errors, chunk, sizeof chunk)) > 0;) messages->append(chunk, size_t(n));
  close(errors);
  return status;
}

}  // namespace

size_t DaqctlFuzzOne(const uint8_t* data, size_t size) {
  EnterScratchFolder();
  FuzzSource in(data, size);
  daqsim::Bench& bench = daqsim::Bench::Instance();
  size_t runs = 0;
  for (unsigned lines = 0; !in.exhausted() && lines < 8; ++lines) {
    CallLog log;
    const std::vector<std::string> argv = CommandLine(in, log);
    std::string line;
    for (const std::string& a : argv) line += "'" + a + "' ";
    log.Add("%s", line.c_str());
    if (!Affordable(argv)) {
      Stats::Count("passed over (long)");
      continue;
    }
    bench.Reset();
    std::string messages;
    const int status = Run(argv, &messages);
    ++runs;
    Stats::Count("exit " + std::to_string(status) + (argv.size() > 1 ? " " + argv[1] : ""));
    log.Add("exit status %d", status);
    FUZZ_CHECK(log, status == 0 || status == 1 || status == 2, "exit status %d (0, 1 or 2)", status);
    FUZZ_CHECK(log, status == 0 || !messages.empty(), "exit status %d without a message", status);
    FUZZ_CHECK(log, messages.find("internal error") == std::string::npos, "%s", messages.c_str());
    if (status == 2 && !RelayJudgedOnTheBoard(argv)) {
      FUZZ_CHECK(log, bench.opens().empty() && bench.portAccessCount() == 0,
                 "a wrong command line touched the machine (%zu opens, %llu port accesses)", bench.opens().size(),
                 (unsigned long long)bench.portAccessCount());
    }
    FUZZ_CHECK(log, bench.OpenHandleCount() == 0, "%u handles left open", bench.OpenHandleCount());
    FUZZ_CHECK(log, bench.faults().empty(), "a port access without permission");
    FUZZ_CHECK(log, bench.badCloses() == 0, "a handle closed that was not open");
    FUZZ_CHECK(log, bench.heap().outstanding() == 0, "heap blocks left");
  }
  return runs;
}

}  // namespace daqfuzz
