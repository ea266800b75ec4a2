// ai: polled readings of one analog channel, each with its channel, range and
// unit, and flagged when it lies at an end of the range.
#include <fmt/format.h>

#include "command.h"
#include "daqctl.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

struct Ai final : Handler {
  unsigned board = 0;
  unsigned channel = 0;
  unsigned range = 0;
  unsigned count = 1;
  bool raw = false;

  void Check() override {
    CheckChannel(channel);
    CheckRangeCode(range);
    if (count == 0 || count > 65535) throw Failure(kExitUsage, "--count must be 1 to 65535");
  }

  int Run() override {
    VarnoSession session;
    session.Select(board);
    CheckDremor(VARNO_SetChannelConfig(uint8_t(channel), uint16_t(range)), "configuring the channel");
    const float fullScale = RangeVolts(range);
    unsigned overRange = 0;
    for (unsigned i = 0; i < count; ++i) {
      // The code, converted here as the library converts it: the code also
      // tells whether the input was beyond the range.
      unsigned short code = 0;
      CheckDremor(VARNO_Polling(&code), "conversion");
      const bool over = OverRange(code);
      overRange += over;
      const char* flag = over ? "  over range" : "";
      if (raw) {
        Print("channel {}, +-{} V: code {}{}\n", channel, fullScale, code, flag);
      } else {
        Print("channel {}, +-{} V: {:.6f} V{}\n", channel, fullScale, CodeToVolts(code, fullScale), flag);
      }
    }
    if (overRange > 0) {
      fmt::print(stderr, "daqctl: {} of {} readings lie at an end of the +-{} V range (over range)\n", overRange,
                 count, fullScale);
    }
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto ai = std::make_unique<Ai>();
  AddBoardOption(app, ai->board);
  AddChannelOption(app, ai->channel);
  AddRangeOption(app, ai->range, "range code: " + RangeList());
  AcceptNumbers(app.add_option("--count,-n", ai->count, "number of readings")->capture_default_str());
  app.add_flag("--raw", ai->raw, "print 12-bit codes instead of volts");
  return ai;
}

}  // namespace

extern const Command kAi{"ai", "polled readings of one analog channel", Define, false};

}  // namespace daqctl
