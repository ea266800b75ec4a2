// list: the boards both libraries find.
#include "command.h"
#include "daqctl.h"
#include "relay_boards.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

struct List final : Handler {
  int Run() override {
    ListRelayBoards();
    ListMultifunctionBoards();
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App&) { return std::make_unique<List>(); }

}  // namespace

extern const Command kList{"list", "list the boards both libraries find", Define, false};

}  // namespace daqctl
