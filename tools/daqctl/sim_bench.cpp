// The simulated build: daqctl runs on the bench, either the built-in one or
// one described in a JSON scenario file (both from the bench library:
// daqsim/scenario.h).
#include <fmt/format.h>

#include "daqctl.h"
#include "daqsim/bench.h"
#include "daqsim/scenario.h"

namespace daqctl {

void PrepareMachine(const MachineOptions& options) {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  bench.Reset();
  bench.SetTraceEnabled(false);
  if (options.scenario.empty()) {
    daqsim::BuildBuiltInBench(bench);
    return;
  }
  try {
    daqsim::LoadScenario(bench, options.scenario);
  } catch (const daqsim::ScenarioError& e) {
    throw Failure(kExitUsage, e.what());
  }
}

std::string BoardSlot(Family family, unsigned n) {
  // The libraries number boards in the order they scan, as the bench does.
  const auto boards = daqsim::Bench::Instance().BoardsInScanOrder([family](const daqsim::PciFunction& fn) {
    return family == Family::kRelay ? dynamic_cast<const daqsim::RelayBoard*>(&fn) != nullptr
                                    : dynamic_cast<const daqsim::MultifunctionBoard*>(&fn) != nullptr;
  });
  if (n >= boards.size()) return "-";
  const daqsim::PciLocation at = boards[n].first;
  return fmt::format("{}:{:02}", at.bus, at.device);
}

void KeepTimeRunning() { daqsim::Bench::Instance().SetRealTime(true); }

std::optional<double> CounterClockHz(unsigned board) {
  const auto boards = daqsim::Bench::Instance().VarnoBoardsInScanOrder();
  const auto* varno =
      board < boards.size() ? dynamic_cast<const daqsim::MultifunctionBoard*>(boards[board]) : nullptr;
  if (!varno) return std::nullopt;
  return double(varno->CounterClockHz());
}

}  // namespace daqctl
