// daqctl: see which boards a machine has, switch relays, read inputs.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>

#include "daqctl.h"

#if !defined(DAQCTL_SIM)
namespace daqctl {
void PrepareMachine(bool sim) {
  if (sim) throw Failure(kExitUsage, "this daqctl drives hardware; the simulated bench is in the simulated build");
}
}  // namespace daqctl
#endif

namespace {

// Accepts decimal, 0x-hex and 0b-binary numbers.
uint32_t ParseNumber(const std::string& text) {
  size_t used = 0;
  unsigned long value = 0;
  try {
    if (text.rfind("0b", 0) == 0 || text.rfind("0B", 0) == 0) {
      value = std::stoul(text.substr(2), &used, 2);
      used += 2;
    } else {
      value = std::stoul(text, &used, 0);
    }
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || text[0] == '-' || value > 0xFFFFFFFFul) {
    throw daqctl::Failure(daqctl::kExitUsage, fmt::format("not a number: '{}'", text));
  }
  return uint32_t(value);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"daqctl: relay boards and multifunction boards, on the simulated bench or on hardware"};
  app.require_subcommand(1);
  bool sim = false;
#if defined(DAQCTL_SIM)
  sim = true;
  app.footer("This build drives the built-in simulated bench.");
#endif
  app.add_flag("--sim", sim, "run on the built-in simulated bench");

  auto* list = app.add_subcommand("list", "list the boards found");

  daqctl::RelayArgs relay;
  std::string relaySet, relayPort, relayOut, relayIn;
  auto* relayCmd = app.add_subcommand("relay", "write a relay pattern and read the inputs of a KORVEL or LUMAR board");
  relayCmd->add_option("--board,-b", relay.board, "board number, as `list` shows it")->capture_default_str();
  relayCmd->add_option("--set,-s", relaySet, "output pattern to write (e.g. 0x00FF or 0b1010)");
  relayCmd->add_option("--bar", relay.bar, "base word the ports are formed from")->capture_default_str();
  relayCmd->add_option("--out-offset", relayOut, "output register offset from the base word");
  relayCmd->add_option("--in-offset", relayIn, "input register offset from the base word");
  relayCmd->add_option("--port", relayPort, "complete port address for both directions (overrides the map)");

  auto* tour = app.add_subcommand("tour", "a short guided run through everything, on the built-in bench");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : daqctl::kExitUsage;
  }

  try {
    if (*relayCmd) {
      if (!relaySet.empty()) relay.set = ParseNumber(relaySet);
      if (!relayPort.empty()) relay.port = ParseNumber(relayPort);
      if (!relayOut.empty()) relay.outOffset = ParseNumber(relayOut);
      if (!relayIn.empty()) relay.inOffset = ParseNumber(relayIn);
    }
    daqctl::PrepareMachine(sim || *tour);
    if (*list) return daqctl::RunList();
    if (*relayCmd) return daqctl::RunRelay(relay);
    if (*tour) return daqctl::RunTour();
  } catch (const daqctl::Failure& f) {
    fmt::print(stderr, "daqctl: {}\n", f.what());
    return f.exitCode;
  }
  return daqctl::kExitUsage;
}
