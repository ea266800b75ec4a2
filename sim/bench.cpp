#include "daqsim/bench.h"

#include <chrono>
#include <thread>

#include "board_layout.h"
#include "bytes.h"

namespace daqsim {
namespace {

// Devices of a PC that are not boards. Fictional vendor ID, real class codes.
constexpr uint16_t kStockVendor = 0x1DB0;

PciIdentity Stock(uint16_t deviceId, uint32_t classCode) {
  PciIdentity id;
  id.vendorId = kStockVendor;
  id.deviceId = deviceId;
  id.classCode = classCode;
  return id;
}

}  // namespace

Bench& Bench::Instance() {
  static Bench bench;
  return bench;
}

Bench::Bench() { Clear(); }

void Bench::Reset() {
  Clear();
  configured_.store(true, std::memory_order_release);
}

void Bench::Clear() {
  // The clock first: boards that go with the bus catch up to time 0, which
  // leaves nothing for their interrupt driver to service.
  clock_.Reset();
  bus_.Reset();
  kernel_.Reset();
  trace_.Reset();
  sleepCalls_ = 0;
  sleptMs_ = 0;
  heap_.Reset();
  host_ = Host::kWindows;
  recordLimit_ = 0;
  scenarioFile_.clear();
  scenarioError_.clear();
  allowedRanges_.clear();
  portAllowed_.assign(0x10000, false);
  for (uint32_t port = 0xCF8; port < 0xD00; ++port) portAllowed_[port] = true;  // PCI configuration
}

// ---- Boards with the bench's usual resources ----------------------------------------

BarSet Bench::AllocateBoardBars(uint32_t blockSize) {
  BarSet bars;
  bars[layout::kBridgeMemoryBar] = Bar::Memory(bus_.AllocateMemoryPage(), layout::kBridgeMemorySize);
  bars[layout::kBridgeIoBar] = Bar::Io(bus_.AllocateIo(layout::kBridgeIoSize), layout::kBridgeIoSize);
  bars[layout::kBoardBlockBar] = Bar::Io(bus_.AllocateIo(blockSize), blockSize);
  return bars;
}

RelayBoard& Bench::AddRelayBoard(RelayModel model, PciLocation at) {
  const BarSet bars = AllocateBoardBars(layout::kRelayBlockSize);
  return AddRelayBoard(model, at, bars, bus_.NextInterruptLine());
}

RelayBoard& Bench::AddRelayBoard(RelayModel model, PciLocation at, const BarSet& bars, uint8_t irq) {
  return Add(at, std::make_unique<RelayBoard>(model, bars, irq));
}

MultifunctionBoard& Bench::AddMultifunctionBoard(PciLocation at) {
  const BarSet bars = AllocateBoardBars(layout::kVarnoBlockSize);
  return AddMultifunctionBoard(at, bars, bus_.NextInterruptLine());
}

MultifunctionBoard& Bench::AddMultifunctionBoard(PciLocation at, const BarSet& bars, uint8_t irq,
                                                 uint8_t pin) {
  return Add(at, std::make_unique<MultifunctionBoard>(bars, irq, pin));
}

void Bench::AddStockPcDevices() {
  const BarSet none{};
  Add(PciLocation{0, 0, 0}, std::make_unique<PciFunction>(Stock(0x0001, 0x060000), none, 0, 0));
  // ISA bridge, IDE controller and USB controller: one device, three functions.
  Add(PciLocation{0, 1, 0}, std::make_unique<PciFunction>(Stock(0x0002, 0x060100), none, 0, 0));
  BarSet ide{};
  ide[4] = Bar::Io(AllocateIo(0x10), 0x10);
  Add(PciLocation{0, 1, 1}, std::make_unique<PciFunction>(Stock(0x0003, 0x01018A), ide, 0, 0));
  BarSet usb{};
  usb[4] = Bar::Io(AllocateIo(0x20), 0x20);
  Add(PciLocation{0, 1, 2}, std::make_unique<PciFunction>(Stock(0x0004, 0x0C0300), usb, 9, 4));
  BarSet vga{};
  vga[0] = Bar::Memory(0xFD000000, 0x1000000);
  vga[1] = Bar::Memory(0xFEB00000, 0x1000);
  Add(PciLocation{0, 2, 0}, std::make_unique<PciFunction>(Stock(0x0005, 0x030000), vga, 0, 0));
  BarSet nic{};
  nic[0] = Bar::Memory(0xFEA00000, 0x20000);
  nic[1] = Bar::Io(AllocateIo(0x40), 0x40);
  Add(PciLocation{0, 3, 0}, std::make_unique<PciFunction>(Stock(0x0006, 0x020000), nic, 11, 1));
  Add(PciLocation{0, 30, 0}, std::make_unique<PciFunction>(Stock(0x0007, 0x060400), none, 0, 0));
}

// ---- The interrupt driver's stand-ins ---------------------------------------------------

std::vector<PciFunction*> Bench::VarnoBoardsInScanOrder() const {
  const uint32_t id = uint32_t(layout::kVarnoDeviceId) << 16 | layout::kVendorId;
  std::vector<PciFunction*> out;
  for (const auto& [at, fn] : BoardsInScanOrder([id](const PciFunction& f) { return f.ConfigDword(0) == id; })) {
    out.push_back(fn);
  }
  return out;
}

unsigned Bench::InstallVarnoDevices() {
  const size_t present = VarnoBoardsInScanOrder().size();
  unsigned installed = 0;
  for (unsigned n = 0; n < VarnoDriver::kDevices; ++n) {
    VarnoDriver& dev = static_cast<VarnoDriver&>(kernel_.Add(std::make_unique<VarnoDriver>(n, bus_)));
    dev.SetInstalled(n < present);
    dev.SetRecordLimit(recordLimit_);
    installed += n < present;
  }
  return installed;
}

VarnoDriver* Bench::VarnoDevice(unsigned board) const {
  return dynamic_cast<VarnoDriver*>(kernel_.Find(VarnoDriver::DeviceName(board)));
}

void Bench::SetRecordLimit(size_t limit) {
  recordLimit_ = limit;
  trace_.SetLimit(limit);
  kernel_.SetRecordLimit(limit);
  for (unsigned n = 0; n < VarnoDriver::kDevices; ++n) {
    if (VarnoDriver* dev = VarnoDevice(n)) dev->SetRecordLimit(limit);
  }
}

// ---- Port I/O ---------------------------------------------------------------------------

void Bench::Record(AccessDir dir, uint16_t port, unsigned width, uint32_t value, const char* reg,
                   bool faulted) {
  trace_.Record(PortAccess{dir, uint8_t(width), port, value, clock_.NowNs(), reg, faulted});
  clock_.Advance(Clock::kIoCycleNs);
}

bool Bench::AllowPorts(uint16_t first, uint32_t count) {
  if (uint32_t(first) + count > 0x10000) return false;
  allowedRanges_.push_back(PortRange{first, count});
  for (uint32_t i = 0; i < count; ++i) portAllowed_[first + i] = true;
  return true;
}

bool Bench::PortUsable(uint16_t port, unsigned width) const {
  if (!PortAccessGranted()) return false;
  if (host_ == Host::kWindows) return true;
  for (unsigned i = 0; i < width; ++i) {
    if (uint32_t(port) + i > 0xFFFF || !portAllowed_[port + i]) return false;
  }
  return true;
}

uint32_t Bench::PortRead(uint16_t port, unsigned width) {
  if (!PortUsable(port, width)) {
    Record(AccessDir::kRead, port, width, AllOnes(width), nullptr, true);
    return AllOnes(width);
  }
  // The device is sampled at the start of the I/O cycle.
  const char* reg = nullptr;
  const uint32_t value = bus_.Read(port, width, &reg);
  Record(AccessDir::kRead, port, width, value, reg, false);
  return value;
}

void Bench::PortWrite(uint16_t port, unsigned width, uint32_t value) {
  value &= AllOnes(width);
  if (!PortUsable(port, width)) {
    Record(AccessDir::kWrite, port, width, value, nullptr, true);
    return;
  }
  // The data reaches the device at the end of the I/O cycle.
  const PortTarget target = bus_.Decode(port, width, true);
  Record(AccessDir::kWrite, port, width, value, target.reg, false);
  bus_.Write(target, port, width, value);
}

// ---- Time ----------------------------------------------------------------------------------

void Bench::Sleep(uint32_t milliseconds) {
  ++sleepCalls_;
  sleptMs_ += milliseconds;
  if (clock_.realTime()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  } else {
    clock_.Advance(uint64_t(milliseconds) * 1000000u);
  }
}

}  // namespace daqsim
