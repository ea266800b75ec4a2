// The simulated build: daqctl runs on the bench, either the built-in one or
// one described in a JSON scenario file.
#include <fmt/format.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "daqctl.h"
#include "daqsim/bench.h"

namespace daqctl {
namespace {

using nlohmann::json;

// The built-in bench: a PC with its usual devices, two relay boards and two
// multifunction boards with signals on their first channels, all drivers
// installed.
void BuiltInBench(daqsim::Bench& bench) {
  bench.AddStockPcDevices();
  bench.AddRelayBoard(daqsim::RelayModel::kKorvel, daqsim::PciLocation{0, 5, 0}).SetInputs(0x0F0F);
  bench.AddRelayBoard(daqsim::RelayModel::kLumar, daqsim::PciLocation{1, 3, 0}).SetInputs(0xA5);
  daqsim::MultifunctionBoard& a = bench.AddMultifunctionBoard(daqsim::PciLocation{0, 9, 0});
  a.SetSignal(0, daqsim::Signal::Sine(5.0, 50.0));
  a.SetSignal(1, daqsim::Signal::Square(2.0, 20.0));
  a.SetSignal(2, daqsim::Signal::Dc(1.25));
  a.SetSignal(3, daqsim::Signal::Triangle(8.0, 5.0).WithNoise(0.05, 3));
  a.SetDigitalInputs(0x00F1);
  daqsim::MultifunctionBoard& b = bench.AddMultifunctionBoard(daqsim::PciLocation{2, 4, 0});
  b.SetSignal(0, daqsim::Signal::Sine(0.08, 1000.0));
  b.SetSignal(1, daqsim::Signal::Noise(0.5, 11));
  b.SetDigitalInputs(0xBEEF);
  bench.InstallVarnoDevices();
}

[[noreturn]] void Bad(const std::string& file, const std::string& what) {
  throw Failure(kExitUsage, fmt::format("scenario {}: {}", file, what));
}

// A number, or a string holding one in C notation ("0x1F", "010", "12").
uint32_t Number(const std::string& file, const json& v, const char* what) {
  if (v.is_number_integer() && v.get<int64_t>() >= 0 && v.get<int64_t>() <= 0xFFFFFFFFll) {
    return uint32_t(v.get<int64_t>());
  }
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    size_t used = 0;
    try {
      const unsigned long n = std::stoul(s, &used, 0);
      if (used == s.size() && n <= 0xFFFFFFFFul) return uint32_t(n);
    } catch (const std::exception&) {
    }
  }
  Bad(file, fmt::format("{} must be a non-negative number", what));
}

daqsim::PciLocation Location(const std::string& file, const json& b) {
  const uint32_t bus = Number(file, b.value("bus", json(0)), "bus");
  const uint32_t dev = Number(file, b.value("device", json(0)), "device");
  const uint32_t fn = Number(file, b.value("function", json(0)), "function");
  if (bus > 255 || dev > 31 || fn > 7) Bad(file, "bus 0-255, device 0-31, function 0-7");
  return daqsim::PciLocation{uint8_t(bus), uint8_t(dev), uint8_t(fn)};
}

daqsim::Signal ParseSignal(const std::string& file, const json& j) {
  const std::string kind = j.value("kind", "dc");
  const double amp = j.value("amplitude", 0.0), hz = j.value("frequency", 0.0);
  const double phase = j.value("phase", 0.0), offset = j.value("offset", 0.0);
  daqsim::Signal s;
  if (kind == "dc") {
    s = daqsim::Signal::Dc(j.value("volts", offset));
  } else if (kind == "sine") {
    s = daqsim::Signal::Sine(amp, hz, phase, offset);
  } else if (kind == "square") {
    s = daqsim::Signal::Square(amp, hz, phase, offset);
  } else if (kind == "triangle") {
    s = daqsim::Signal::Triangle(amp, hz, phase, offset);
  } else if (kind == "noise") {
    s = daqsim::Signal::Dc(offset);
  } else {
    Bad(file, fmt::format("unknown signal kind '{}' (dc, sine, square, triangle, noise)", kind));
  }
  if (j.contains("noise") || kind == "noise") {
    s = s.WithNoise(j.value("noise", j.value("rms", 0.0)), j.value("seed", uint64_t(0)));
  }
  return s;
}

// Every key of a scenario; see tools/scenarios/*.json.
void LoadScenario(daqsim::Bench& bench, const std::string& file) {
  std::ifstream in(file);
  if (!in) throw Failure(kExitUsage, fmt::format("cannot read scenario {}", file));
  json j;
  try {
    j = json::parse(in);
  } catch (const json::exception& e) {
    Bad(file, fmt::format("not valid JSON: {}", e.what()));
  }
  if (!j.is_object()) Bad(file, "the top level must be an object");
  try {
    if (j.value("stock_devices", true)) bench.AddStockPcDevices();
    for (const json& b : j.value("boards", json::array())) {
      const std::string model = b.value("model", "");
      const daqsim::PciLocation at = Location(file, b);
      if (model == "KORVEL" || model == "LUMAR") {
        auto& board = bench.AddRelayBoard(model == "KORVEL" ? daqsim::RelayModel::kKorvel : daqsim::RelayModel::kLumar, at);
        board.SetInputs(uint16_t(Number(file, b.value("inputs", json(0)), "inputs")));
      } else if (model == "VARNO") {
        auto& board = bench.AddMultifunctionBoard(at);
        board.SetDigitalInputs(uint16_t(Number(file, b.value("digital_inputs", json(0)), "digital_inputs")));
        if (b.contains("counter_clock_hz")) {
          board.SetCounterClockHz(Number(file, b["counter_clock_hz"], "counter_clock_hz"));
        }
        const json channels = b.value("channels", json::object());
        for (const auto& [key, sig] : channels.items()) {
          const uint32_t ch = Number(file, json(key), "channel");
          if (ch >= 16) Bad(file, fmt::format("channel {} does not exist (0-15)", ch));
          board.SetSignal(int(ch), ParseSignal(file, sig));
        }
      } else {
        Bad(file, fmt::format("unknown board model '{}' (KORVEL, LUMAR, VARNO)", model));
      }
    }
    bench.InstallVarnoDevices();
    const json drivers = j.value("drivers", json::object());
    auto apply = [&](daqsim::KernelDevice* dev, const std::string& state) {
      if (!dev) return;
      if (state == "absent") {
        dev->SetInstalled(false);
      } else if (state == "refuse") {
        dev->SetRefuseOpen(true);
      } else if (state != "installed") {
        Bad(file, fmt::format("driver state '{}' (installed, absent, refuse)", state));
      }
    };
    apply(&bench.PortAccessDriver(), drivers.value("kelvra", "installed"));
    for (unsigned n = 0; n < 4; ++n) apply(bench.VarnoDevice(n), drivers.value("varno", "installed"));
  } catch (const json::exception& e) {
    Bad(file, e.what());
  }
}

}  // namespace

void PrepareMachine(const MachineOptions& options) {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  bench.Reset();
  bench.SetTraceEnabled(false);
  if (options.scenario.empty()) {
    BuiltInBench(bench);
  } else {
    LoadScenario(bench, options.scenario);
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
