// The cost of building a bench: placing functions on the bus (each
// placement touches only its own device, so n functions cost O(n)), and
// reading a scenario file, accepted (up to the 224 boards the I/O space
// holds) or refused for its size (100,000 boards: read once, refused).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "daqsim/bench.h"
#include "daqsim/scenario.h"

namespace {

using daqsim::Bench;
using daqsim::PciLocation;

// n plain functions with no windows, at bus/device/function in order.
void BM_PlaceFunctions(benchmark::State& state) {
  const int n = int(state.range(0));
  daqsim::PciIdentity id;
  id.vendorId = 0x1DB0;
  for (auto _ : state) {
    Bench& bench = Bench::Instance();
    bench.Reset();
    for (int i = 0; i < n; ++i) {
      const PciLocation at{uint8_t(i >> 8), uint8_t((i >> 3) & 31), uint8_t(i & 7)};
      bench.Add(at, std::make_unique<daqsim::PciFunction>(id, daqsim::BarSet{}, 0, 0));
    }
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_PlaceFunctions)->RangeMultiplier(4)->Range(1000, 64000)->Complexity()->Unit(benchmark::kMillisecond);

std::string Boards(int n) {
  std::string text = R"({"stock_devices": false, "boards": [)";
  for (int i = 0; i < n; ++i) {
    const std::string slot = R"("bus": )" + std::to_string(10 + i / 32) + R"(, "device": )" + std::to_string(i % 32);
    text += std::string(i ? "," : "") +
            (i % 2 ? R"({"model": "VARNO", )" + slot + R"(, "channels": {"0": {"kind": "sine", "amplitude": 1}}})"
                   : R"({"model": "KORVEL", )" + slot + R"(, "inputs": "0x00FF"})");
  }
  return text + "]}";
}

// Parse and apply n boards (n up to the 224 the I/O space holds).
void BM_LoadScenario(benchmark::State& state) {
  const std::string text = Boards(int(state.range(0)));
  for (auto _ : state) {
    Bench& bench = Bench::Instance();
    bench.Reset();
    daqsim::Scenario sc;
    if (!daqsim::ParseScenario(text, "b.json", &sc).empty() || !daqsim::ApplyScenario(sc, bench, "b.json").empty()) {
      state.SkipWithError("refused");
      return;
    }
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadScenario)->Arg(14)->Arg(56)->Arg(224)->Complexity()->Unit(benchmark::kMicrosecond);

// A file of n boards, refused for their number after one linear read.
void BM_RefuseTooManyBoards(benchmark::State& state) {
  const std::string text = Boards(int(state.range(0)));
  for (auto _ : state) {
    daqsim::Scenario sc;
    benchmark::DoNotOptimize(daqsim::ParseScenario(text, "b.json", &sc));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RefuseTooManyBoards)->Arg(8000)->Arg(32000)->Arg(100000)->Complexity()->Unit(benchmark::kMillisecond);

}  // namespace
