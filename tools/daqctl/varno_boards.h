// The multifunction boards through Dremor: the session a command opens, the
// board's channels and input ranges (from the board map, varno_board_map.h),
// the conversion of sample words to volts, the options every command of these
// boards takes, and the multifunction part of `list`.
#ifndef DAQCTL_VARNO_BOARDS_H
#define DAQCTL_VARNO_BOARDS_H

#include <cstdint>
#include <string>

#include "daqctl.h"
#include "dremor.h"
#include "varno_board_map.h"

namespace CLI {
class App;
}

namespace daqctl {

// Dremor's drivers: the port-access driver and the interrupt driver.
class VarnoSession : public LibrarySession {
 public:
  VarnoSession();
  ~VarnoSession() { VARNO_DriverClose(); }
  // Makes `board` active; every operation of the board needs it first.
  void Select(unsigned board);
};

// Throws Failure(kExitFailure) with "what: <status text>" unless `status` is
// DREMOR_OK.
void CheckDremor(uint16_t status, const char* what);

// Usage checks (Failure(kExitUsage)): a channel of the multiplexer, a
// configuration code with an input range.
void CheckChannel(unsigned channel);
void CheckRangeCode(unsigned code);
// The full scale in volts of range code `code`, which CheckRangeCode passed.
float RangeVolts(unsigned code);
// The codes and their full scales, for help: "<code> +-<volts> V, <code> +-<volts>, ...".
std::string RangeList();

// A sample word in volts, as the library converts it: (code - mid-scale) x
// step x full scale, computed exactly and rounded once to single precision.
float CodeToVolts(uint16_t word, float fullScale);

// The options of the multifunction commands.
void AddBoardOption(CLI::App& app, unsigned& board);
void AddChannelOption(CLI::App& app, unsigned& channel);
void AddRangeOption(CLI::App& app, unsigned& range, const std::string& help);

void ListMultifunctionBoards();

}  // namespace daqctl

#endif
