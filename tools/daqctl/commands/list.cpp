// list: the boards both libraries find. By default one scan per library and
// nothing else: no board is selected (selecting resets a multifunction board
// and waits 100 ms). --verbose selects each multifunction board to read its
// interrupt line and driver, and tells what every board can do.
#include "command.h"
#include "daqctl.h"
#include "relay_boards.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

struct List final : Handler {
  bool verbose = false;

  int Run() override {
    // The multifunction scan first: its session answers the interrupt
    // driver's version for the first line. Each library's drivers are held
    // only while it is asked.
    const MultifunctionListing multifunction = ListMultifunctionBoards(verbose);
    const std::string relays = ListRelayBoards(verbose);
    Print("{}\n{}{}", VersionLine(multifunction.driverVersion), relays, multifunction.text);
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto list = std::make_unique<List>();
  app.add_flag("--verbose,-v", list->verbose,
               "select each multifunction board (this resets it) to show its interrupt line and driver, and show "
               "channels, ranges, resolution and the fastest rate of every board");
  return list;
}

}  // namespace

extern const Command kList{"list", "list the boards both libraries find", Define, false};

}  // namespace daqctl
