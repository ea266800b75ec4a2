#include "daqsim/pci_bus.h"

#include <stdexcept>

#include "bytes.h"

namespace daqsim {
namespace {

constexpr uint16_t kConfigAddressPort = 0x0CF8;
constexpr uint16_t kConfigDataPort = 0x0CFC;
constexpr uint32_t kConfigEnable = 0x80000000u;

// Buses a driver's scan walks (0-9), as the libraries do.
constexpr unsigned kScannedBuses = 10;

// The interrupt lines the firmware gives the boards, in turn.
constexpr uint8_t kBoardInterruptLines[] = {11, 10, 5, 9};

}  // namespace

void PciBus::Reset() {
  functions_.clear();
  ++decodeGeneration_;
  configAddress_ = 0;
  nextIoTop_ = kIoTop;
  nextMemory_ = kMemoryTop;
  nextIrq_ = 0;
}

// ---- Functions ---------------------------------------------------------------------

void PciBus::Place(PciLocation at, std::unique_ptr<PciFunction> function) {
  function->AttachClock(&clock_);
  function->AttachDecodeGeneration(&decodeGeneration_);
  functions_[at.Key()] = std::move(function);
  ++decodeGeneration_;
  UpdateMultiFunctionBit(at);
}

bool PciBus::Remove(PciLocation at) {
  const bool removed = functions_.erase(at.Key()) > 0;
  ++decodeGeneration_;
  UpdateMultiFunctionBit(at);
  return removed;
}

void PciBus::UpdateMultiFunctionBit(PciLocation changed) {
  // Function 0 of a device announces further functions in its header type.
  // Only the device where a function came or went can change: placing a
  // board costs the same however many functions the bus holds.
  const uint32_t device = changed.Key() & ~7u;
  auto fn0 = functions_.find(device);
  if (fn0 == functions_.end()) return;
  bool more = false;
  for (uint32_t f = 1; f < 8; ++f) more = more || functions_.count(device | f) > 0;
  fn0->second->SetMultiFunction(more);
}

PciFunction* PciBus::At(PciLocation at) const {
  auto it = functions_.find(at.Key());
  return it == functions_.end() ? nullptr : it->second.get();
}

std::vector<PciFunction*> PciBus::Functions() const {
  std::vector<PciFunction*> out;
  for (auto& entry : functions_) out.push_back(entry.second.get());
  return out;
}

std::vector<PciBus::Slot> PciBus::Slots() const {
  std::vector<Slot> out;
  for (const auto& [key, fn] : functions_) out.emplace_back(PciLocation::FromKey(key), fn.get());
  return out;
}

std::vector<PciBus::Slot> PciBus::BoardsInScanOrder(const std::function<bool(const PciFunction&)>& match) const {
  std::vector<Slot> out;
  // functions_ is ordered by bus, then device, then function: the scan order.
  for (const auto& [key, fn] : functions_) {
    const PciLocation at = PciLocation::FromKey(key);
    if (at.bus < kScannedBuses && at.function == 0 && match(*fn)) out.emplace_back(at, fn.get());
  }
  return out;
}

// ---- Resources ---------------------------------------------------------------------

uint16_t PciBus::AllocateIo(uint32_t size) {
  if (size == 0 || (size & (size - 1)) != 0 || size > kIoTop - kIoBottom) {
    throw std::invalid_argument("an I/O window is a power of two of at most 0xE000 ports");
  }
  const uint32_t base = nextIoTop_ >= kIoBottom + size ? (nextIoTop_ - size) & ~(size - 1) : 0;
  if (base < kIoBottom) throw IoSpaceFull("the PC's I/O space for PCI windows (0x1000-0xEFFF) is full");
  nextIoTop_ = base;
  return uint16_t(base);
}

uint32_t PciBus::AllocateMemoryPage() {
  const uint32_t base = nextMemory_;
  nextMemory_ -= 0x1000;
  return base;
}

uint8_t PciBus::NextInterruptLine() {
  constexpr unsigned kLines = sizeof kBoardInterruptLines / sizeof kBoardInterruptLines[0];
  return kBoardInterruptLines[nextIrq_++ % kLines];
}

// ---- Port access --------------------------------------------------------------------

PortTarget PciBus::Decode(uint16_t port, unsigned width, bool write) const {
  PortTarget t;
  if (port == kConfigAddressPort && width == 4) {
    // Only a full dword access reaches the address latch; byte accesses at
    // 0xCF8-0xCFB belong to other chipset registers.
    t.kind = PortTarget::Kind::kConfigAddress;
    t.reg = "PciConfigAddress";
  } else if (port >= kConfigDataPort && port < kConfigDataPort + 4) {
    t.kind = PortTarget::Kind::kConfigData;
    t.reg = "PciConfigData";
  } else if ((t.function = DecodeIo(port, &t.bar, &t.offset)) != nullptr) {
    t.kind = PortTarget::Kind::kFunction;
    t.reg = t.function->RegisterName(t.bar, t.offset, write);
  }
  return t;
}

uint32_t PciBus::Read(uint16_t port, unsigned width, const char** reg) {
  const PortTarget target = Decode(port, width, false);
  *reg = target.reg;
  switch (target.kind) {
    case PortTarget::Kind::kConfigAddress:
      return configAddress_;
    case PortTarget::Kind::kConfigData:
      return ConfigRead(port, width);
    case PortTarget::Kind::kFunction:
      return target.function->IoRead(target.bar, target.offset, width) & AllOnes(width);
    case PortTarget::Kind::kNothing:
      break;
  }
  return AllOnes(width);
}

void PciBus::Write(const PortTarget& target, uint16_t port, unsigned width, uint32_t value) {
  switch (target.kind) {
    case PortTarget::Kind::kConfigAddress:
      configAddress_ = value;
      break;
    case PortTarget::Kind::kConfigData:
      ConfigWrite(port, width, value);
      break;
    case PortTarget::Kind::kFunction:
      target.function->IoWrite(target.bar, target.offset, width, value);
      break;
    case PortTarget::Kind::kNothing:
      break;
  }
}

PciFunction* PciBus::DecodeIo(uint16_t port, int* bar, uint32_t* offset) const {
  if (ioWindowsGeneration_ != decodeGeneration_) {
    // Bus order, so that of two overlapping windows the first function wins.
    ioWindows_.clear();
    for (auto& entry : functions_) {
      for (int i = 0; i < 6; ++i) {
        const Bar b = entry.second->bar(i);
        if (b.kind == Bar::Kind::kIo) ioWindows_.push_back(IoWindow{b.base, b.size, entry.second.get(), i});
      }
    }
    ioWindowsGeneration_ = decodeGeneration_;
  }
  for (const IoWindow& w : ioWindows_) {
    if (port < w.base || port - w.base >= w.size) continue;
    *bar = w.bar;
    *offset = port - w.base;
    return w.function;
  }
  return nullptr;
}

PciFunction* PciBus::ConfigTarget() const {
  if (!(configAddress_ & kConfigEnable)) return nullptr;
  return At(PciLocation{uint8_t(configAddress_ >> 16), uint8_t((configAddress_ >> 11) & 0x1F),
                        uint8_t((configAddress_ >> 8) & 7)});
}

uint32_t PciBus::ConfigRead(uint16_t port, unsigned width) const {
  // The data window 0xCFC-0xCFF shows the selected dword; a read at offset k
  // of the window returns its bytes k, k + 1, ... Bytes beyond the window,
  // a clear enable bit or an empty slot float high.
  PciFunction* fn = ConfigTarget();
  uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const unsigned lane = port - kConfigDataPort + i;
    uint8_t byte = 0xFF;
    if (fn && lane < 4) byte = fn->ConfigByte((configAddress_ & 0xFC) + lane);
    value |= uint32_t(byte) << (8 * i);
  }
  return value;
}

void PciBus::ConfigWrite(uint16_t port, unsigned width, uint32_t value) {
  PciFunction* fn = ConfigTarget();
  const unsigned lane = port - kConfigDataPort;
  if (!fn || lane + width > 4) return;
  fn->ConfigWrite((configAddress_ & 0xFC) + lane, width, value);
}

}  // namespace daqsim
