// timer: an 8254 counter of a multifunction board as a rate generator.
#include <fmt/format.h>

#include "acquisition_rate.h"
#include "command.h"
#include "daqctl.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

struct Timer final : Handler {
  unsigned board = 0;
  unsigned counter = 0;
  NumberOption divisorText;
  uint32_t divisor = 0;

  void Check() override {
    divisor = divisorText.Get().value_or(0);
    CheckCounter(counter, "--counter");
    CheckTimerDivisor(divisor, "--divisor");
  }

  int Run() override {
    VarnoSession session;
    session.Select(board);
    VARNO_SetupTimer(counter, divisor);
    const std::optional<double> clock = CounterClockHz(board);
    const double period = divisor == 0 ? 65536.0 : double(divisor);
    std::string line = fmt::format("board {}: counter {} runs as a rate generator dividing by {}", board, counter,
                                   uint32_t(period));
    if (clock) line += fmt::format(" ({} from the {} counter clock)", Hertz(*clock / period), Hertz(*clock));
    Print("{}\n", line);
    if (counter == 0) Print("note: counter 0 is the A/D pacer; acquisitions reprogram it\n");
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto timer = std::make_unique<Timer>();
  AddBoardOption(app, timer->board);
  AcceptNumbers(app.add_option("--counter,-c", timer->counter, "counter 0, 1 or 2")->capture_default_str());
  timer->divisorText.Add(app, "--divisor,-d", "count to divide the counter clock by (0 = 65536)")->required();
  return timer;
}

}  // namespace

extern const Command kTimer{"timer", "run an 8254 counter of a multifunction board as a rate generator", Define,
                            false};

}  // namespace daqctl
