// The multifunction boards through Dremor: the session a command opens, the
// board's channels and input ranges (from the board map, varno_board_map.h),
// the conversion of sample words to volts, the options every command of these
// boards takes, and the multifunction part of `list`.
#ifndef DAQCTL_VARNO_BOARDS_H
#define DAQCTL_VARNO_BOARDS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "daqctl.h"
#include "dremor.h"
#include "sample_codes.h"
#include "sample_writer.h"
#include "varno_board_map.h"

namespace CLI {
class App;
}

namespace daqctl {

// Dremor's drivers: the port-access driver and the interrupt driver.
class VarnoSession : public LibrarySession {
 public:
  // Opens both drivers and scans; a failure throws Failure(kExitFailure)
  // naming its cause.
  VarnoSession();
  // The same, but a missing interrupt driver (status 101) is no failure: the
  // session then has no board, and openStatus() says 101.
  struct NoInterruptDeviceAllowed {};
  explicit VarnoSession(NoInterruptDeviceAllowed);
  ~VarnoSession() { VARNO_DriverClose(); }
  // Makes `board` active; every operation of the board needs it first. It
  // resets the board, and the library waits 100 ms.
  void Select(unsigned board);
  uint16_t openStatus() const { return status_; }
  // The version of the interrupt driver of the board the library holds
  // (the active one), when it answers.
  static std::optional<uint16_t> DriverVersion();

 private:
  void Open(bool allowNoInterruptDevice);
  uint16_t status_ = DREMOR_OK;
};

// Throws Failure(kExitFailure) with "what: <status text>" unless `status` is
// DREMOR_OK.
void CheckDremor(uint16_t status, const char* what);

// Usage checks (Failure(kExitUsage)), one implementation for the commands
// and the panel: a channel of the multiplexer, a configuration code with an
// input range. Where a message names the value, `name` is what the caller
// calls it ("--divisor" on the command line, "divisor" on the panel).
void CheckChannel(unsigned channel);
void CheckRangeCode(unsigned code);
// An 8254 counter of the board: 0, 1 or 2.
void CheckCounter(unsigned counter, const char* name);
// A divisor for VARNO_SetupTimer: 0 to 65535 (0 counts 65536).
void CheckTimerDivisor(uint32_t divisor, const char* name);
// A pattern for the 16 digital outputs.
void CheckDigitalPattern(uint32_t pattern, const char* name);
// A pacer divisor for an acquisition: 1 to 65535.
void CheckPacerDivisor(uint32_t divisor, const char* name);
// The full scale in volts of range code `code`, which CheckRangeCode passed.
float RangeVolts(unsigned code);
// What a recording of `channel` of multifunction board `board` says of
// itself, as the acquisition starts now (mode "pacer" or "background").
RecordingInfo DescribeRecording(unsigned board, unsigned channel, unsigned rangeCode, const std::string& mode,
                                uint32_t divisor, std::optional<double> clockHz);
// The codes with an input range and their full scales, in the table's order.
struct InputRange {
  unsigned code;
  float volts;
};
std::vector<InputRange> InputRanges();
// The codes and their full scales, for help: "<code> +-<volts> V, <code> +-<volts>, ...".
std::string RangeList();

// The options of the multifunction commands.
void AddBoardOption(CLI::App& app, unsigned& board);
void AddChannelOption(CLI::App& app, unsigned& channel);
void AddRangeOption(CLI::App& app, unsigned& range, const std::string& help);

// The multifunction part of `list`: the boards one scan finds (nothing is
// selected), or with `verbose` each board selected in turn (which resets it)
// for its interrupt line and driver, with what it can measure.
struct MultifunctionListing {
  uint16_t status = DREMOR_OK;               // VARNO_DriverInit's
  std::optional<uint16_t> driverVersion;     // the interrupt driver of board 0, when it answers
  std::string text;                          // the lines `list` prints
};
MultifunctionListing ListMultifunctionBoards(bool verbose);

}  // namespace daqctl

#endif
