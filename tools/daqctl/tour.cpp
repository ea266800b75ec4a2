// The guided tour: each step is a daqctl command run on the built-in bench,
// shown with its command line, followed by what the bench saw.
#include <fmt/format.h>

#include "daqctl.h"

#if defined(DAQCTL_SIM)
#include "daqsim/bench.h"
#endif

namespace daqctl {

#if defined(DAQCTL_SIM)
namespace {

void Step(const char* what, const char* command) {
  fmt::print("\n{}\n$ daqctl {}\n", what, command);
  std::fflush(stdout);
}

// The relay states of the bench's relay boards, in bus order.
void ShowRelays() {
  for (daqsim::PciFunction* fn : daqsim::Bench::Instance().Functions()) {
    if (auto* board = dynamic_cast<daqsim::RelayBoard*>(fn)) {
      fmt::print("  bench: {} board relays now {:#0{}x}\n",
                 board->model() == daqsim::RelayModel::kKorvel ? "KORVEL" : "LUMAR", board->outputs(),
                 board->width() / 4 + 2);
    }
  }
}

}  // namespace

int RunTour() {
  fmt::print("daqctl tour: a short run on the built-in simulated bench, a PC with a KORVEL\n"
             "relay board (16 relays, 16 inputs) and a LUMAR relay board (8 and 8).\n");
  Step("1. Which boards does this machine have?", "list");
  RunList();

  Step("2. Energise relays 1, 3, 4, 6, 9, 11, 12 and 14 (bit numbers) of board 0 and read its inputs.",
       "relay --board 0 --set 0x5A5A");
  RelayArgs korvel;
  korvel.board = 0;
  korvel.set = 0x5A5A;
  RunRelay(korvel);
  ShowRelays();

  Step("3. The same on the 8-bit board 1.", "relay --board 1 --set 0b10000001");
  RelayArgs lumar;
  lumar.board = 1;
  lumar.set = 0x81;
  RunRelay(lumar);
  ShowRelays();

  Step("4. Read only: without --set nothing is written.", "relay --board 1");
  lumar.set.reset();
  RunRelay(lumar);

  fmt::print("\nThat is the tour. `daqctl --help` lists every command.\n");
  return kExitOk;
}

#else

int RunTour() {
  throw Failure(kExitUsage, "the tour runs on the simulated bench: use the simulated build of daqctl");
}

#endif

}  // namespace daqctl
