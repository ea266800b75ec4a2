// tour: a guided run on the built-in bench. Each step is a daqctl command
// line, shown and then run through the same parser and commands as a user's
// command line, followed by what the bench saw.
#include <fmt/format.h>

#include <cstdio>
#include <sstream>

#include "command.h"
#include "daqctl.h"

#if defined(DAQCTL_SIM)
#include "daqsim/bench.h"
#endif

namespace daqctl {
namespace {

#if defined(DAQCTL_SIM)

// The relay states of the bench's relay boards, in bus order.
void ShowRelays() {
  for (daqsim::PciFunction* fn : daqsim::Bench::Instance().Functions()) {
    if (auto* board = dynamic_cast<daqsim::RelayBoard*>(fn)) {
      Print("  bench: {} board relays now {:#0{}x}\n",
                 board->model() == daqsim::RelayModel::kKorvel ? "KORVEL" : "LUMAR", board->outputs(),
                 board->width() / 4 + 2);
    }
  }
}

void ShowDigitalOutputs() {
  auto& board = *static_cast<daqsim::MultifunctionBoard*>(daqsim::Bench::Instance().VarnoBoardsInScanOrder().at(0));
  Print("  bench: digital outputs now {:#06x}\n", board.digitalOutputs());
}

struct Step {
  const char* what;
  const char* line;   // the command line, as shown and as run
  void (*bench)();    // what the bench saw, or nullptr
};

const Step kSteps[] = {
    {"1. Which boards does this machine have?", "daqctl list", nullptr},
    {"2. Energise relays 1, 3, 4, 6, 9, 11, 12 and 14 (bit numbers) of relay board 0, read its inputs.",
     "daqctl relay --board 0 --set 0x5A5A", ShowRelays},
    {"3. The same on the 8-bit relay board 1.", "daqctl relay --board 1 --set 0b10000001", ShowRelays},
    {"4. The digital port of multifunction board 0.", "daqctl dio --board 0 --set 0x00FF", ShowDigitalOutputs},
    {"5. Counter 1 as a 1 kHz rate generator.", "daqctl timer --counter 1 --divisor 4000", nullptr},
    {"6. Three polled readings of the 1.25 V on channel 2, range +-2.5 V.", "daqctl ai --channel 2 --range 2 --count 3",
     nullptr},
    {"7. 400 samples of the sine at 4 kHz (counter clock 4 MHz / 1000), drawn as a picture.",
     "daqctl acquire --channel 0 --divisor 1000 --count 400 --output tour.csv --plot tour.svg", nullptr},
    {"8. The same channel in the background: the interrupt driver samples at 10 kHz while daqctl\n"
     "   waits and fetches what has arrived (a progress line shows on a terminal).",
     "daqctl acquire --mode background --channel 0 --divisor 400 --count 2000 --output tour-background.csv",
     nullptr},
};

// The words of a command line, split at spaces (the tour's lines quote
// nothing).
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

struct Tour final : Handler {
  int Run() override {
    Print("daqctl tour: a short run on the built-in simulated bench, a PC with a KORVEL relay\n"
               "board (16 relays, 16 inputs), a LUMAR relay board (8 and 8) and two multifunction\n"
               "boards; board 0 has a 5 V 50 Hz sine on channel 0 and 1.25 V on channel 2.\n");
    for (const Step& step : kSteps) {
      Print("\n{}\n$ {}\n", step.what, step.line);
      // The steps run one after the other on the bench this command prepared.
      const int status = RunCommandLine(Words(step.line), MachineSetup::kAsItStands);
      if (status != kExitOk) return status;
      if (step.bench) step.bench();
    }
    Print("\nThat is the tour. `daqctl --help` lists every command; `daqctl --sim FILE ...` runs on a\n"
               "bench described in a JSON scenario (see tools/scenarios/).\n");
    return kExitOk;
  }
};

#else

// The tour shows what the bench sees: there is no tour on hardware.
struct Tour final : Handler {
  void Check() override {
    throw Failure(kExitUsage, "the tour runs on the simulated bench: use the simulated build of daqctl");
  }
  int Run() override { return kExitUsage; }
};

#endif

std::unique_ptr<Handler> Define(CLI::App&) { return std::make_unique<Tour>(); }

}  // namespace

extern const Command kTour{"tour", "a short guided run through everything, on the built-in bench", Define, true};

}  // namespace daqctl
