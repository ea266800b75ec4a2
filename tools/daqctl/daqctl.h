// What daqctl's commands share: exit statuses and failures, the libraries'
// status texts, the machine they run on and the output of samples. The
// commands themselves: command.h.
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

// The drivers of a library, held by a command from the construction of its
// session to the destruction: the session of each library opens them and
// scans, and closes them on every path out of the command.
class LibrarySession {
 public:
  LibrarySession(const LibrarySession&) = delete;
  LibrarySession& operator=(const LibrarySession&) = delete;
  // The boards the scan found.
  uint16_t count() const { return count_; }

 protected:
  LibrarySession() = default;
  ~LibrarySession() = default;
  uint16_t count_ = 0;
};

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

}  // namespace daqctl

#endif
