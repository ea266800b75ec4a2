// The bench of an application's process: set up at the libraries' first
// call from the environment, and its report.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "daqsim/bench.h"
#include "daqsim/scenario.h"

namespace daqsim {
namespace {

// The report file DAQSIM_REPORT named, written at exit.
std::string g_reportPath;

void WriteReportAtExit() {
  Bench& bench = Bench::Instance();
  if (!bench.WriteReport(g_reportPath)) {
    std::fprintf(stderr, "daqsim: cannot write the report %s\n", g_reportPath.c_str());
  }
}

// An exception's text on one line.
std::string OneLine(std::string s) {
  for (char& c : s) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return s;
}

}  // namespace

Bench& Bench::ForLibraries() {
  Bench& bench = Instance();
  if (!bench.configured()) bench.ConfigureFromEnvironment();
  return bench;
}

void Bench::ConfigureFromEnvironment() {
  auto lock = Hold();
  if (configured()) return;  // another thread was first
  const char* report = std::getenv("DAQSIM_REPORT");
  if (report && *report) {
    g_reportPath = report;
    std::atexit(WriteReportAtExit);
  }
  ConfigureForApplication(std::getenv("DAQSIM_SCENARIO"));
}

bool Bench::ConfigureForApplication(const char* scenario) {
  auto lock = Hold();
  Clear();
  const std::string file = scenario ? scenario : "";
  bool ok = true;
  try {
    if (file.empty()) {
      BuildBuiltInBench(*this);
    } else {
      LoadScenario(*this, file);
    }
  } catch (const std::exception& e) {
    // A bench without drivers: the libraries' first call reports the driver
    // missing, as on a machine where it is not installed.
    Clear();
    PortAccessDriver().SetInstalled(false);
    scenarioError_ = OneLine(e.what());
    std::fprintf(stderr, "daqsim: %s\n", scenarioError_.c_str());
    ok = false;
  }
  scenarioFile_ = file;
  SetTraceEnabled(false);
  SetRecordLimit(kApplicationRecordLimit);
  clock_.SetRealTime(true);
  configured_.store(true, std::memory_order_release);
  return ok;
}

// ---- The report -------------------------------------------------------------------

std::string Bench::Report() {
  using nlohmann::ordered_json;
  auto lock = Hold();
  const auto text = [](const std::string& s) { return s.empty() ? ordered_json(nullptr) : ordered_json(s); };
  ordered_json r;
  r["scenario"] = text(scenarioFile_);
  r["scenario_error"] = text(scenarioError_);
  r["port_accesses"] = trace_.count();
  r["faults"] = trace_.faultCount();
  if (const auto& f = trace_.lastFault()) {
    r["last_fault"] = {{"port", f->port},
                       {"width", f->width},
                       {"write", f->dir == AccessDir::kWrite},
                       {"value", f->value},
                       {"time_ns", f->timeNs}};
  } else {
    r["last_fault"] = nullptr;
  }
  r["sleep_calls"] = sleepCalls_;
  r["slept_ms"] = sleptMs_;
  r["open_handles"] = kernel_.OpenHandleCount();
  r["bad_closes"] = kernel_.badCloses();
  r["heap_blocks_outstanding"] = heap_.stats().outstanding();

  // Every board on the bus, with its number in the drivers' scan order
  // (null for one the scan does not reach).
  const auto numbers = [this](auto isKind) {
    std::map<uint32_t, unsigned> out;
    const auto boards = bus_.BoardsInScanOrder(isKind);
    for (unsigned n = 0; n < boards.size(); ++n) out[boards[n].first.Key()] = n;
    return out;
  };
  const auto relayNumbers = numbers([](const PciFunction& f) { return dynamic_cast<const RelayBoard*>(&f) != nullptr; });
  const auto varnoNumbers =
      numbers([](const PciFunction& f) { return dynamic_cast<const MultifunctionBoard*>(&f) != nullptr; });
  ordered_json relays = ordered_json::array(), varnos = ordered_json::array();
  for (const auto& [at, fn] : bus_.Slots()) {
    char slot[16];
    std::snprintf(slot, sizeof slot, "%u:%02u.%u", unsigned(at.bus), unsigned(at.device), unsigned(at.function));
    const auto number = [&at = at](const std::map<uint32_t, unsigned>& numbers) {
      const auto n = numbers.find(at.Key());
      return n == numbers.end() ? ordered_json(nullptr) : ordered_json(n->second);
    };
    if (const auto* relay = dynamic_cast<const RelayBoard*>(fn)) {
      relays.push_back({{"board", number(relayNumbers)},
                        {"slot", slot},
                        {"model", relay->model() == RelayModel::kKorvel ? "KORVEL" : "LUMAR"},
                        {"outputs", relay->outputs()},
                        {"inputs", relay->inputs()}});
    } else if (const auto* varno = dynamic_cast<const MultifunctionBoard*>(fn)) {
      varnos.push_back({{"board", number(varnoNumbers)},
                        {"slot", slot},
                        {"model", "VARNO"},
                        {"digital_outputs", varno->digitalOutputs()},
                        {"digital_inputs", varno->state().digitalInputs}});
    }
  }
  r["relay_boards"] = relays;
  r["multifunction_boards"] = varnos;
  return r.dump(2) + "\n";
}

bool Bench::WriteReport(const std::string& path) {
  const std::string text = Report();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return bool(out);
}

}  // namespace daqsim
