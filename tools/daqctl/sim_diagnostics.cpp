// The simulated build's answers about the machine beyond the libraries
// (devices, boards fitted), and its hidden test hooks.
#include "sim_diagnostics.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "daqctl.h"
#include "daqsim/bench.h"

namespace daqctl {

DeviceState ProbeDevice(const std::string& name) {
  const daqsim::KernelDevice* device = daqsim::Bench::Instance().FindKernelDevice(name);
  if (!device || !device->installed()) return DeviceState::kAbsent;
  if (device->refusesOpen() || (device->exclusive() && device->openHandles() > 0)) return DeviceState::kRefused;
  return DeviceState::kOpenable;
}

std::optional<unsigned> MultifunctionBoardsFitted() {
  return unsigned(daqsim::Bench::Instance().VarnoBoardsInScanOrder().size());
}

void AddSimTestHooks(CLI::App& app, SimTestHooks& hooks) {
  // An empty group hides them from --help.
  app.add_option("--sim-report", hooks.report, "write the bench's counters to FILE at the end")->group("");
  app.add_option("--sim-driver-capacity", hooks.driverCapacity, "samples each interrupt driver holds")->group("");
}

void ApplySimTestHooks(const SimTestHooks& hooks) {
  if (hooks.driverCapacity.empty()) return;
  const std::optional<uint64_t> capacity = ParseWholeNumber(hooks.driverCapacity, 1u << 30);
  if (!capacity || *capacity == 0) throw Failure(kExitUsage, "--sim-driver-capacity: 1 to 2^30 samples");
  daqsim::Bench& bench = daqsim::Bench::Instance();
  for (unsigned n = 0; n < daqsim::VarnoDriver::kDevices; ++n) {
    if (daqsim::VarnoDriver* driver = bench.VarnoDevice(n)) driver->SetCapacity(size_t(*capacity));
  }
}

void WriteSimReport(const SimTestHooks& hooks) {
  if (hooks.report.empty()) return;
  daqsim::Bench& bench = daqsim::Bench::Instance();
  nlohmann::json report;
  report["port_accesses"] = bench.portAccessCount();
  report["sleep_calls"] = bench.sleepCalls();
  report["slept_ms"] = bench.sleptMs();
  report["faults"] = bench.faults().size();
  report["open_handles"] = bench.OpenHandleCount();
  nlohmann::json drivers = nlohmann::json::array();
  for (unsigned n = 0; n < daqsim::VarnoDriver::kDevices; ++n) {
    daqsim::VarnoDriver* driver = bench.VarnoDevice(n);
    if (!driver) continue;
    drivers.push_back({{"device", n},
                       {"armed", driver->armed()},
                       {"stops", driver->stops()},
                       {"interrupts", driver->interruptCount()},
                       {"held", driver->heldSamples()},
                       {"overruns", driver->overruns()}});
  }
  report["interrupt_drivers"] = drivers;
  nlohmann::json boards = nlohmann::json::array();
  for (daqsim::PciFunction* fn : bench.VarnoBoardsInScanOrder()) {
    auto* board = static_cast<daqsim::MultifunctionBoard*>(fn);
    boards.push_back({{"pacer_parked", board->timer().Parked(0)}, {"interrupt_control", board->interruptControl()}});
  }
  report["multifunction_boards"] = boards;
  if (std::FILE* f = std::fopen(hooks.report.c_str(), "wb")) {
    const std::string text = report.dump(1) + "\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

}  // namespace daqctl
