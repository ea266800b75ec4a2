// daqctl: see which boards a machine has, switch relays, read inputs, take
// readings and acquisitions, on the simulated bench or on hardware.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>

#include "daqctl.h"

namespace {

// Accepts decimal, 0x-hex and 0b-binary numbers.
uint32_t ParseNumber(const std::string& text, const char* what) {
  size_t used = 0;
  unsigned long long value = 0;
  try {
    if (text.rfind("0b", 0) == 0 || text.rfind("0B", 0) == 0) {
      value = std::stoull(text.substr(2), &used, 2);
      used += 2;
    } else {
      value = std::stoull(text, &used, 0);
    }
  } catch (const std::exception&) {
    used = 0;
  }
  if (text.empty() || used != text.size() || text[0] == '-' || value > 0xFFFFFFFFull) {
    throw daqctl::Failure(daqctl::kExitUsage, fmt::format("{}: not a number: '{}'", what, text));
  }
  return uint32_t(value);
}

// Options that take numbers in any notation are read as text first.
struct NumberOption {
  std::string text;
  std::optional<uint32_t> Get(const char* what) const {
    if (text.empty()) return std::nullopt;
    return ParseNumber(text, what);
  }
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"daqctl: relay boards and multifunction boards, on the simulated bench or on hardware"};
  app.require_subcommand(1);
  daqctl::MachineOptions machine;
  auto* simOpt = app.add_option("--sim", machine.scenario,
                                "run on the simulated bench: the built-in one, or the one a JSON scenario FILE "
                                "describes")
                     ->expected(0, 1)
                     ->type_name("[FILE]");
#if defined(DAQCTL_SIM)
  app.footer("This daqctl is the simulated build: it always runs on the bench (--sim is implied).");
#endif

  auto* list = app.add_subcommand("list", "list the boards both libraries find");

  daqctl::RelayArgs relay;
  NumberOption relaySet, relayPort, relayOut, relayIn;
  auto* relayCmd = app.add_subcommand("relay", "write a relay pattern and read the inputs of a KORVEL or LUMAR board");
  relayCmd->add_option("--board,-b", relay.board, "relay board number, as `list` shows it")->capture_default_str();
  relayCmd->add_option("--set,-s", relaySet.text, "output pattern to write (e.g. 0x00FF or 0b1010)");
  relayCmd->add_option("--bar", relay.bar, "base word the ports are formed from")->capture_default_str();
  relayCmd->add_option("--out-offset", relayOut.text, "output register offset from the base word");
  relayCmd->add_option("--in-offset", relayIn.text, "input register offset from the base word");
  relayCmd->add_option("--port", relayPort.text, "complete port address for both directions (overrides the map)");

  daqctl::DioArgs dio;
  NumberOption dioSet;
  auto* dioCmd = app.add_subcommand("dio", "write the 16 digital outputs and read the 16 inputs of a multifunction board");
  dioCmd->add_option("--board,-b", dio.board, "multifunction board number")->capture_default_str();
  dioCmd->add_option("--set,-s", dioSet.text, "output pattern to write");

  daqctl::TimerArgs timer;
  NumberOption timerDivisor;
  auto* timerCmd = app.add_subcommand("timer", "run an 8254 counter of a multifunction board as a rate generator");
  timerCmd->add_option("--board,-b", timer.board, "multifunction board number")->capture_default_str();
  timerCmd->add_option("--counter,-c", timer.counter, "counter 0, 1 or 2")->capture_default_str();
  timerCmd->add_option("--divisor,-d", timerDivisor.text, "count to divide the counter clock by (0 = 65536)")
      ->required();

  daqctl::AiArgs ai;
  auto* aiCmd = app.add_subcommand("ai", "polled readings of one analog channel");
  aiCmd->add_option("--board,-b", ai.board, "multifunction board number")->capture_default_str();
  aiCmd->add_option("--channel,-c", ai.channel, "input channel 0-15")->capture_default_str();
  aiCmd->add_option("--range,-r", ai.range, "range code: 0 +-10 V, 1 +-5, 2 +-2.5, 3 +-1.25, 16 +-10, 17 +-1, "
                                          "18 +-0.1, 19 +-0.01")
      ->capture_default_str();
  aiCmd->add_option("--count,-n", ai.count, "number of readings")->capture_default_str();
  aiCmd->add_flag("--raw", ai.raw, "print 12-bit codes instead of volts");

  daqctl::AcquireArgs acq;
  NumberOption acqDivisor, acqCount;
  auto* acqCmd = app.add_subcommand("acquire", "a pacer-clocked or background acquisition of N samples, as CSV or JSON");
  acqCmd->add_option("--board,-b", acq.board, "multifunction board number")->capture_default_str();
  acqCmd->add_option("--channel,-c", acq.channel, "input channel 0-15")->capture_default_str();
  acqCmd->add_option("--range,-r", acq.range, "range code (see `ai`)")->capture_default_str();
  acqCmd->add_option("--divisor,-d", acqDivisor.text, "pacer divisor: sample rate = counter clock / divisor (1000)");
  acqCmd->add_option("--count,-n", acqCount.text, "number of samples (1000)");
  acqCmd->add_option("--mode", acq.mode,
                     "pacer: a block polled by this program; background: sampled under interrupt by the "
                     "driver while this program waits, with a progress line")
      ->capture_default_str();
  acqCmd->add_flag("!--no-progress", acq.progress, "no progress line");
  acqCmd->add_option("--format", acq.format, "csv or json")->capture_default_str();
  acqCmd->add_option("--output,-o", acq.output, "write the samples to FILE instead of standard output");
  acqCmd->add_option("--plot", acq.plot, "draw the waveform as an SVG picture to FILE");
  acqCmd->add_option("--clock", acq.clockHz, "the board's counter clock in Hz, for the time axis");
  acqCmd->add_flag("--raw", acq.raw, "take raw 12-bit codes too");

  auto* tour = app.add_subcommand("tour", "a short guided run through everything, on the built-in bench");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? daqctl::kExitOk : daqctl::kExitUsage;
  }

  try {
    // Arguments are checked before anything is touched.
    relay.set = relaySet.Get("--set");
    relay.port = relayPort.Get("--port");
    relay.outOffset = relayOut.Get("--out-offset");
    relay.inOffset = relayIn.Get("--in-offset");
    dio.set = dioSet.Get("--set");
    timer.divisor = timerDivisor.Get("--divisor").value_or(0);
    acq.divisor = acqDivisor.Get("--divisor").value_or(acq.divisor);
    acq.count = acqCount.Get("--count").value_or(acq.count);
    if (*aiCmd) {
      daqctl::CheckChannel(ai.channel);
      daqctl::CheckRangeCode(ai.range);
    }
    if (*acqCmd) {
      daqctl::CheckChannel(acq.channel);
      daqctl::CheckRangeCode(acq.range);
    }

    machine.sim = simOpt->count() > 0;
#if defined(DAQCTL_SIM)
    machine.sim = true;
#endif
    if (*tour) {
      machine.sim = true;
      machine.scenario.clear();
    }
    daqctl::PrepareMachine(machine);
    if (*list) return daqctl::RunList();
    if (*relayCmd) return daqctl::RunRelay(relay);
    if (*dioCmd) return daqctl::RunDio(dio);
    if (*timerCmd) return daqctl::RunTimer(timer);
    if (*aiCmd) return daqctl::RunAi(ai);
    if (*acqCmd) return daqctl::RunAcquire(acq);
    if (*tour) return daqctl::RunTour();
  } catch (const daqctl::Failure& f) {
    std::fflush(stdout);
    fmt::print(stderr, "daqctl: {}\n", f.what());
    return f.exitCode;
  }
  return daqctl::kExitUsage;
}
