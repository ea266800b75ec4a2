// The bench's C interface (daqsim.h): each call reaches the bench the way the
// libraries do (set up from the environment at first use) and holds it while
// it looks.
#include "daqsim/daqsim.h"

#include "daqsim/bench.h"

using daqsim::Bench;
using daqsim::MultifunctionBoard;
using daqsim::PciFunction;
using daqsim::PciLocation;
using daqsim::RelayBoard;

namespace {

// Board `n` of type B in the drivers' scan order, or nullptr.
template <class B>
B* Numbered(Bench& bench, int32_t n) {
  if (n < 0) return nullptr;
  const auto boards =
      bench.BoardsInScanOrder([](const PciFunction& f) { return dynamic_cast<const B*>(&f) != nullptr; });
  return size_t(n) < boards.size() ? static_cast<B*>(boards[size_t(n)].second) : nullptr;
}

// The board of type B in a slot, or nullptr.
template <class B>
B* InSlot(Bench& bench, int32_t bus, int32_t device, int32_t function) {
  if (bus < 0 || bus > 255 || device < 0 || device > 31 || function < 0 || function > 7) return nullptr;
  return dynamic_cast<B*>(bench.At(PciLocation{uint8_t(bus), uint8_t(device), uint8_t(function)}));
}

// `look` applied to the bench, held.
template <class F>
auto Held(F look) {
  Bench& bench = Bench::ForLibraries();
  auto lock = bench.Hold();
  return look(bench);
}

int32_t RelayOutputs(const RelayBoard* b) { return b ? b->outputs() : -1; }
int32_t DigitalOutputs(const MultifunctionBoard* b) { return b ? b->digitalOutputs() : -1; }

}  // namespace

extern "C" {

int32_t DaqSimRelayOutputs(int32_t board) {
  return Held([&](Bench& bench) { return RelayOutputs(Numbered<RelayBoard>(bench, board)); });
}

int32_t DaqSimRelayOutputsAt(int32_t bus, int32_t device, int32_t function) {
  return Held([&](Bench& bench) { return RelayOutputs(InSlot<RelayBoard>(bench, bus, device, function)); });
}

int32_t DaqSimSetRelayInputs(int32_t board, uint32_t pattern) {
  return Held([&](Bench& bench) {
    RelayBoard* b = Numbered<RelayBoard>(bench, board);
    if (!b || pattern >> b->width() != 0) return -1;
    b->SetInputs(uint16_t(pattern));
    return 0;
  });
}

int32_t DaqSimDigitalOutputs(int32_t board) {
  return Held([&](Bench& bench) { return DigitalOutputs(Numbered<MultifunctionBoard>(bench, board)); });
}

int32_t DaqSimDigitalOutputsAt(int32_t bus, int32_t device, int32_t function) {
  return Held(
      [&](Bench& bench) { return DigitalOutputs(InSlot<MultifunctionBoard>(bench, bus, device, function)); });
}

int32_t DaqSimSetDigitalInputs(int32_t board, uint32_t pattern) {
  return Held([&](Bench& bench) {
    MultifunctionBoard* b = Numbered<MultifunctionBoard>(bench, board);
    if (!b || pattern > 0xFFFF) return -1;
    b->SetDigitalInputs(uint16_t(pattern));
    return 0;
  });
}

uint64_t DaqSimPortAccessCount(void) {
  return Held([](Bench& bench) { return bench.portAccessCount(); });
}

uint64_t DaqSimFaultCount(void) {
  return Held([](Bench& bench) { return bench.faultCount(); });
}

int32_t DaqSimLastFault(DaqSimFault* fault) {
  const auto last = Held([](Bench& bench) { return bench.lastFault(); });
  if (!last || !fault) return 0;
  fault->port = last->port;
  fault->width = last->width;
  fault->write = last->dir == daqsim::AccessDir::kWrite ? 1 : 0;
  fault->value = last->value;
  fault->timeNs = last->timeNs;
  return 1;
}

uint64_t DaqSimSleepCalls(void) {
  return Held([](Bench& bench) { return uint64_t(bench.sleepCalls()); });
}

uint32_t DaqSimOpenHandles(void) {
  return Held([](Bench& bench) { return uint32_t(bench.OpenHandleCount()); });
}

int32_t DaqSimWriteReport(const char* path) {
  if (!path) return -1;
  return Bench::ForLibraries().WriteReport(path) ? 0 : -1;
}

}  // extern "C"
