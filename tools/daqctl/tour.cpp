// The guided tour: each step is a daqctl command run on the built-in bench,
// shown with its command line, followed by what the bench saw.
#include <fmt/format.h>

#include <cstdio>

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

daqsim::MultifunctionBoard& FirstMultifunctionBoard() {
  return *static_cast<daqsim::MultifunctionBoard*>(daqsim::Bench::Instance().VarnoBoardsInScanOrder().at(0));
}

}  // namespace

int RunTour() {
  fmt::print("daqctl tour: a short run on the built-in simulated bench, a PC with a KORVEL relay\n"
             "board (16 relays, 16 inputs), a LUMAR relay board (8 and 8) and two multifunction\n"
             "boards; board 0 has a 5 V 50 Hz sine on channel 0 and 1.25 V on channel 2.\n");
  Step("1. Which boards does this machine have?", "list");
  RunList();

  Step("2. Energise relays 1, 3, 4, 6, 9, 11, 12 and 14 (bit numbers) of relay board 0, read its inputs.",
       "relay --board 0 --set 0x5A5A");
  RelayArgs korvel;
  korvel.set = 0x5A5A;
  RunRelay(korvel);
  ShowRelays();

  Step("3. The same on the 8-bit relay board 1.", "relay --board 1 --set 0b10000001");
  RelayArgs lumar;
  lumar.board = 1;
  lumar.set = 0x81;
  RunRelay(lumar);
  ShowRelays();

  Step("4. The digital port of multifunction board 0.", "dio --board 0 --set 0x00FF");
  DioArgs dio;
  dio.set = 0x00FF;
  RunDio(dio);
  fmt::print("  bench: digital outputs now {:#06x}\n", FirstMultifunctionBoard().digitalOutputs());

  Step("5. Counter 1 as a 1 kHz rate generator.", "timer --counter 1 --divisor 4000");
  TimerArgs timer;
  timer.counter = 1;
  timer.divisor = 4000;
  RunTimer(timer);

  Step("6. Three polled readings of the 1.25 V on channel 2, range +-2.5 V.", "ai --channel 2 --range 2 --count 3");
  AiArgs ai;
  ai.channel = 2;
  ai.range = 2;
  ai.count = 3;
  RunAi(ai);

  Step("7. 400 samples of the sine at 4 kHz (counter clock 4 MHz / 1000), drawn as a picture.",
       "acquire --channel 0 --divisor 1000 --count 400 --output tour.csv --plot tour.svg");
  AcquireArgs acq;
  acq.count = 400;
  acq.output = "tour.csv";
  acq.plot = "tour.svg";
  RunAcquire(acq);

  Step("8. The same channel in the background: the interrupt driver samples at 10 kHz while daqctl\n"
       "   waits and fetches what has arrived (a progress line shows on a terminal).",
       "acquire --mode background --channel 0 --divisor 400 --count 2000 --output tour-background.csv");
  AcquireArgs background;
  background.mode = "background";
  background.divisor = 400;
  background.count = 2000;
  background.output = "tour-background.csv";
  RunAcquire(background);

  fmt::print("\nThat is the tour. `daqctl --help` lists every command; `daqctl --sim FILE ...` runs on a\n"
             "bench described in a JSON scenario (see tools/scenarios/).\n");
  return kExitOk;
}

#else

int RunTour() {
  throw Failure(kExitUsage, "the tour runs on the simulated bench: use the simulated build of daqctl");
}

#endif

}  // namespace daqctl
