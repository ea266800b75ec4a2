// Shared pieces of daqctl's commands.
#ifndef DAQCTL_DAQCTL_H
#define DAQCTL_DAQCTL_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace daqctl {

// Exit statuses: 0 success; a library reported a failure; the command line
// was wrong (nothing was touched).
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A failure that ends the command with a message and an exit status.
struct Failure : std::runtime_error {
  Failure(int exitCode, const std::string& message) : std::runtime_error(message), exitCode(exitCode) {}
  int exitCode;
};

// The messages for the libraries' statuses.
std::string KorvelStatusText(uint16_t status);
std::string DremorStatusText(uint16_t status);

// ---- The machine ------------------------------------------------------------
// Sets up what the commands run on: the built-in bench, a bench described in
// a scenario file, or (hardware builds) the real machine.
struct MachineOptions {
  bool sim = false;
  std::string scenario;  // empty: the built-in bench
};
void PrepareMachine(const MachineOptions& options);
// Where the n-th board of a library sits ("bus:device"), when the machine
// can tell (the bench can; the libraries report no slot).
enum class Family { kRelay, kMultifunction };
std::string BoardSlot(Family family, unsigned n);
// The counter clock of the multifunction boards, when the machine knows it.
std::optional<double> CounterClockHz(unsigned board);
// Lets the machine's time run on while the program waits (the bench follows
// the wall clock from then on; hardware does so anyway).
void KeepTimeRunning();

// ---- Commands -----------------------------------------------------------------
struct RelayArgs {
  unsigned board = 0;
  std::optional<uint32_t> set;      // pattern to write
  std::optional<uint32_t> port;     // complete port address (both directions)
  unsigned bar = 2;                 // base word the ports are formed from
  std::optional<uint32_t> outOffset;
  std::optional<uint32_t> inOffset;
};

struct DioArgs {
  unsigned board = 0;
  std::optional<uint32_t> set;
};

struct TimerArgs {
  unsigned board = 0;
  unsigned counter = 0;
  uint32_t divisor = 0;
};

struct AiArgs {
  unsigned board = 0;
  unsigned channel = 0;
  unsigned range = 0;
  unsigned count = 1;
  bool raw = false;
};

struct AcquireArgs {
  unsigned board = 0;
  unsigned channel = 0;
  unsigned range = 0;
  uint32_t divisor = 1000;
  uint32_t count = 1000;
  std::string mode = "pacer";   // pacer | background (interrupt-driven)
  std::string format = "csv";   // csv | json
  std::string output;           // file; empty: standard output
  std::string plot;             // SVG file; empty: none
  std::optional<double> clockHz;
  bool raw = false;
  bool progress = true;
};

int RunList();  // ListRelayBoards() and ListMultifunctionBoards()
void ListRelayBoards();
void ListMultifunctionBoards();
int RunRelay(const RelayArgs& args);
int RunDio(const DioArgs& args);
int RunTimer(const TimerArgs& args);
int RunAi(const AiArgs& args);
int RunAcquire(const AcquireArgs& args);
int RunTour();

// Validation shared by the commands: throws Failure(kExitUsage) before any
// hardware is touched.
void CheckRangeCode(unsigned code);
void CheckChannel(unsigned channel);
// The full scale in volts of a range code, for labels.
double RangeVolts(unsigned code);

// ---- Output -------------------------------------------------------------------
struct Series {
  double sampleSeconds = 0;      // 0 when unknown
  std::vector<double> volts;     // one per sample (NaN where not converted)
  std::vector<uint16_t> codes;   // raw words, when taken raw
  std::string title;
};
std::string FormatCsv(const Series& s);
std::string FormatJson(const Series& s);
std::string RenderSvg(const Series& s, double rangeVolts);
void WriteFile(const std::string& path, const std::string& text);

// The interrupt-driven acquisition of `acquire --mode background`.
Series AcquireBackground(const AcquireArgs& args, std::optional<double> clockHz);

}  // namespace daqctl

#endif
