#include "fuzz_bench.h"

#include <cstdio>

namespace daqfuzz {

using daqsim::Bar;
using daqsim::BarSet;
using daqsim::Bench;
using daqsim::PciLocation;

void RandomHost(FuzzSource& in, Bench& bench, unsigned linuxPercent, CallLog& log) {
  if (in.Percent(linuxPercent)) {
    bench.SetHost(Bench::Host::kLinux);
    log.Add("bench: Linux host");
  }
  if (in.Bool()) {
    bench.AddStockPcDevices();
    log.Add("bench: stock PC devices");
  }
}

PciLocation RandomSlot(FuzzSource& in) {
  PciLocation at;
  at.bus = uint8_t(in.Percent(90) ? in.Below(10) : 10 + in.Below(3));
  at.device = uint8_t(in.Below(32));
  at.function = uint8_t(in.Percent(90) ? 0 : 1 + in.Below(7));
  return at;
}

namespace {

// A window of `size` ports (a power of two) aligned to its size, anywhere.
uint32_t AnyWindow(FuzzSource& in, uint32_t size) {
  if (in.Percent(20)) return 0x10000u - size;  // the top of the port space
  return (in.U16() & ~(size - 1)) & 0xFFFFu;
}

}  // namespace

BarSet RandomBoardBars(FuzzSource& in, Bench& bench, uint32_t blockSize) {
  BarSet bars{};
  bars[0] = Bar::Memory(0xFEBF0000u - 0x1000u * in.Below(16), 0x80);
  const bool allocated = in.Percent(60);
  bars[1] = Bar::Io(allocated ? bench.AllocateIo(0x80) : AnyWindow(in, 0x80), 0x80);
  bars[2] = Bar::Io(allocated ? bench.AllocateIo(blockSize) : AnyWindow(in, blockSize), blockSize);
  return bars;
}

void MaybeOddConfig(FuzzSource& in, daqsim::PciFunction& fn, CallLog& log) {
  if (!in.Percent(10)) return;
  const unsigned reg = in.OneOf<unsigned>({0x10, 0x14, 0x18, 0x1C, 0x20, 0x24, 0x3C});
  uint32_t value = in.U32();
  if (reg != 0x3C && in.Bool()) value = (fn.ConfigDword(reg) & 0xFFFFu) | (value & 0xFFFF0000u);
  fn.PokeConfigDword(reg, value);
  log.Add("  config 0x%02X := 0x%08X", reg, value);
}

void ForeignHandles::Open(Bench& bench, const std::string& device) {
  const uintptr_t h = bench.OpenDevice(device.c_str(), 0x80000000u, 0, 3, 0x80);
  if (h != daqsim::kInvalidHandle) handles_[device].push_back(h);
}

void ForeignHandles::CloseOne(Bench& bench, const std::string& device) {
  auto it = handles_.find(device);
  if (it == handles_.end() || it->second.empty()) return;
  bench.CloseHandle(it->second.back());
  it->second.pop_back();
}

unsigned ForeignHandles::On(const std::string& device) const {
  auto it = handles_.find(device);
  return it == handles_.end() ? 0 : unsigned(it->second.size());
}

unsigned ForeignHandles::total() const {
  unsigned n = 0;
  for (const auto& [name, list] : handles_) n += unsigned(list.size());
  return n;
}

void ChangeKernelDevice(FuzzSource& in, Bench& bench, daqsim::KernelDevice& device, ForeignHandles& foreign,
                        CallLog& log) {
  switch (in.Below(5)) {
    case 0:
      device.SetInstalled(!device.installed());
      log.Add("bench: %s %s", device.name().c_str(), device.installed() ? "installed" : "absent");
      break;
    case 1:
      device.SetRefuseOpen(!device.refusesOpen());
      log.Add("bench: %s %s", device.name().c_str(), device.refusesOpen() ? "refuses opens" : "accepts opens");
      break;
    case 2:
      device.SetExclusive(!device.exclusive());
      log.Add("bench: %s %s", device.name().c_str(), device.exclusive() ? "exclusive" : "shared");
      break;
    case 3:
      foreign.Open(bench, device.name());
      log.Add("bench: another program opens %s (holds %u)", device.name().c_str(), foreign.On(device.name()));
      break;
    default:
      foreign.CloseOne(bench, device.name());
      log.Add("bench: another program closes %s (holds %u)", device.name().c_str(), foreign.On(device.name()));
      break;
  }
}

bool OpenWouldSucceed(const daqsim::KernelDevice* device) {
  return device && device->installed() && !device->refusesOpen() &&
         !(device->exclusive() && device->openHandles() > 0);
}

std::string DescribeAccess(const daqsim::PortAccess& a) {
  char line[128];
  std::snprintf(line, sizeof line, "%s%d(0x%04X)=0x%X at %llu ns%s%s", a.dir == daqsim::AccessDir::kRead ? "in" : "out",
                a.width * 8, a.port, a.value, (unsigned long long)a.timeNs, a.reg ? " " : "", a.reg ? a.reg : "");
  return line;
}

}  // namespace daqfuzz
