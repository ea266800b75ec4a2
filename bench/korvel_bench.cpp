// Cost of Korvel's I/O exports on the simulated backend, and the bench's
// port-access throughput. (On the hardware build an I/O export is one port
// instruction behind one flag test; a test checks its disassembly.)
#include <benchmark/benchmark.h>

#include "daqsim/bench.h"
#include "korvel.h"

namespace {

daqsim::RelayBoard& PrepareBench(bool trace) {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  bench.Reset();
  bench.AddStockPcDevices();
  daqsim::RelayBoard& board = bench.AddRelayBoard(daqsim::RelayModel::kKorvel, {0, 5, 0});
  unsigned short count = 0;
  PCI_DriverInit(&count);
  bench.ClearTrace();
  bench.SetTraceEnabled(trace);
  return board;
}

void BM_KORVEL_DO(benchmark::State& state) {
  daqsim::RelayBoard& board = PrepareBench(state.range(0) != 0);
  const uint16_t port = board.OutputPort();
  uint16_t pattern = 0;
  for (auto _ : state) {
    KORVEL_DO(port, pattern++);
    if (state.range(0) && (pattern & 0xFFF) == 0) daqsim::Bench::Instance().ClearTrace();
  }
  PCI_DriverClose();
}
BENCHMARK(BM_KORVEL_DO)->ArgName("trace")->Arg(0)->Arg(1);

void BM_KORVEL_DI(benchmark::State& state) {
  daqsim::RelayBoard& board = PrepareBench(false);
  board.SetInputs(0x1234);
  const uint16_t port = board.InputPort();
  for (auto _ : state) benchmark::DoNotOptimize(KORVEL_DI(port));
  PCI_DriverClose();
}
BENCHMARK(BM_KORVEL_DI);

// One full bus scan: 320 selects and 640 reads plus 6 + 6 per board.
void BM_PCI_DriverInit_Scan(benchmark::State& state) {
  PrepareBench(false);
  unsigned short count = 0;
  for (auto _ : state) benchmark::DoNotOptimize(PCI_DriverInit(&count));
  state.counters["port_accesses/s"] =
      benchmark::Counter(double(state.iterations()) * (960 + 12), benchmark::Counter::kIsRate);
  PCI_DriverClose();
}
BENCHMARK(BM_PCI_DriverInit_Scan);

// The bench alone: port accesses per second through the machine interface.
void BM_BenchPortAccess(benchmark::State& state) {
  daqsim::RelayBoard& board = PrepareBench(false);
  daqsim::Bench& bench = daqsim::Bench::Instance();
  const uint16_t port = board.InputPort();
  for (auto _ : state) benchmark::DoNotOptimize(bench.PortRead(port, 2));
  state.counters["port_accesses/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  PCI_DriverClose();
}
BENCHMARK(BM_BenchPortAccess);

}  // namespace
