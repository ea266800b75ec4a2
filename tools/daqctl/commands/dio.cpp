// dio: the digital port of a multifunction board.
#include <fmt/format.h>

#include "command.h"
#include "daqctl.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

struct Dio final : Handler {
  unsigned board = 0;
  NumberOption setText;
  std::optional<uint32_t> set;

  void Check() override {
    set = setText.Get();
    if (set) CheckDigitalPattern(*set, "--set");
  }

  int Run() override {
    VarnoSession session;
    session.Select(board);
    if (set) {
      VARNO_Do(uint16_t(*set));
      Print("board {}: digital outputs {:#06x}\n", board, *set);
    }
    unsigned short inputs = 0;
    CheckDremor(VARNO_Di(&inputs), "reading the digital inputs");
    Print("board {}: digital inputs  {:#06x}  ({:016b})\n", board, inputs, inputs);
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto dio = std::make_unique<Dio>();
  AddBoardOption(app, dio->board);
  dio->setText.Add(app, "--set,-s", "output pattern to write");
  return dio;
}

}  // namespace

extern const Command kDio{"dio", "write the 16 digital outputs and read the 16 inputs of a multifunction board",
                          Define, false};

}  // namespace daqctl
