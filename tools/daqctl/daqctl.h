// What daqctl's commands share: exit statuses and failures, the libraries'
// status texts, the machine they run on, checked standard output and the
// numbers of the command line. The commands themselves: command.h; the
// samples' files: sample_writer.h and waveform_plot.h.
#ifndef DAQCTL_DAQCTL_H
#define DAQCTL_DAQCTL_H

#include <fmt/format.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace daqctl {

// Exit statuses: 0 success; a library reported a failure (or a file could
// not be written); the command line was wrong (nothing was touched). An
// acquisition stopped by a signal exits with 128 + the signal's number, as a
// shell reports a process the signal ended.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A failure that ends the command with a message and an exit status.
struct Failure : std::runtime_error {
  Failure(int exitCode, const std::string& message) : std::runtime_error(message), exitCode(exitCode) {}
  int exitCode;
};

// The tool's version line: daqctl's own version (the project's), the build
// ("simulated bench" in the simulated build), each library's version and the
// interrupt driver's where one answers. `driverVersion` is what
// VARNO_GetDriverVersion gave, when it succeeded.
std::string VersionLine(std::optional<uint16_t> driverVersion);
// daqctl's version and build alone: "daqctl 0.1.0 (simulated bench)".
std::string ToolName();
// A library or driver version word as its maker writes it: 0x0201 is 2.01.
std::string VersionText(uint16_t version);

// The messages for the libraries' statuses.
std::string KorvelStatusText(uint16_t status);
std::string DremorStatusText(uint16_t status);
// The message for a failed VARNO_DriverInit or VARNO_ActiveBoard(board): for
// the statuses of a device that could not be opened it names the cause the
// machine can tell (driver absent or refusing; no multifunction board).
std::string DremorOpenFailureText(uint16_t status, unsigned board);
// The same for PCI_DriverInit.
std::string KorvelOpenFailureText(uint16_t status);

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
// What opening a kernel device by name would meet, asked only to explain a
// library's failed open: the device is not there, it refuses the open (held
// by another program, or access denied), it would open, or the machine
// cannot tell.
enum class DeviceState { kUnknown, kAbsent, kRefused, kOpenable };
DeviceState ProbeDevice(const std::string& name);
// The multifunction boards fitted, when the machine can tell without the
// libraries (the bench can; hardware cannot).
std::optional<unsigned> MultifunctionBoardsFitted();

// ---- Standard output ---------------------------------------------------------
// Everything daqctl prints on standard output goes through here: a failed
// write ends the command with a message (Failure, exit 1) instead of being
// lost. FinishStandardOutput flushes and reports the last error.
void WriteStandardOutput(std::string_view text);
template <typename... T>
void Print(fmt::format_string<T...> format, T&&... args) {
  WriteStandardOutput(fmt::format(format, std::forward<T>(args)...));
}
// Empty when every byte reached standard output, else the reason.
std::string FinishStandardOutput();

// ---- Numbers of the command line ---------------------------------------------
// Whole numbers in decimal, 0x hex or 0b binary. A leading zero is decimal
// ("010" is ten): octal is never meant on a lab's command line. Nothing else
// (signs, spaces, suffixes) is taken. nullopt when the text is no such number
// or exceeds `max`.
std::optional<uint64_t> ParseWholeNumber(const std::string& text, uint64_t max = UINT64_MAX);
// A decimal number with optional fraction and exponent ("4e6", "0.5"), finite;
// no hex, "inf" or "nan".
std::optional<double> ParseDecimal(const std::string& text);

}  // namespace daqctl

#endif
