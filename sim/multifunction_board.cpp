#include "daqsim/multifunction_board.h"

#include "daqsim/bench.h"
#include "varno_board_map.h"

namespace daqsim {
namespace {

enum Dir : uint8_t { kR = 1, kW = 2, kRW = 3 };

// The decode table: where each register sits, its width and the directions
// it serves.
struct RegisterInfo {
  VarnoRegister reg;
  int bar;
  uint32_t offset;
  uint8_t bytes;
  uint8_t dirs;
  const char* name;
};

constexpr RegisterInfo kRegisters[kVarnoRegisterCount] = {
    {VarnoRegister::kCounter0, VARNO_BOARD_BAR, VARNO_COUNTER0, 1, kRW, "Counter0"},
    {VarnoRegister::kCounter1, VARNO_BOARD_BAR, VARNO_COUNTER1, 1, kRW, "Counter1"},
    {VarnoRegister::kCounter2, VARNO_BOARD_BAR, VARNO_COUNTER2, 1, kRW, "Counter2"},
    {VarnoRegister::kCounterControl, VARNO_BOARD_BAR, VARNO_COUNTER_CONTROL, 1, kW, "CounterControl"},
    {VarnoRegister::kChannelSelect, VARNO_BOARD_BAR, VARNO_CHANNEL_SELECT, 1, kW, "ChannelSelect"},
    {VarnoRegister::kAdStatus, VARNO_BOARD_BAR, VARNO_AD_STATUS, 1, kR, "AdStatus"},
    {VarnoRegister::kGainControl, VARNO_BOARD_BAR, VARNO_GAIN_CONTROL, 1, kW, "GainControl"},
    {VarnoRegister::kAdModeControl, VARNO_BOARD_BAR, VARNO_AD_MODE_CONTROL, 1, kW, "AdModeControl"},
    {VarnoRegister::kSoftwareTrigger, VARNO_BOARD_BAR, VARNO_SOFTWARE_TRIGGER, 2, kW, "SoftwareTrigger"},
    {VarnoRegister::kDigitalIo, VARNO_BOARD_BAR, VARNO_DIGITAL_IO, 2, kRW, "DigitalIo"},
    {VarnoRegister::kAdData, VARNO_BOARD_BAR, VARNO_AD_DATA, 2, kR, "AdData"},
    {VarnoRegister::kInterruptControl, VARNO_BRIDGE_BAR, VARNO_INTERRUPT_CONTROL, 1, kRW, "InterruptControl"},
};

constexpr bool TableInRegisterOrder() {
  for (size_t i = 0; i < kVarnoRegisterCount; ++i) {
    if (size_t(kRegisters[i].reg) != i) return false;
  }
  return true;
}
static_assert(TableInRegisterOrder(), "kRegisters is indexed by VarnoRegister");

const RegisterInfo* Decode(int bar, uint32_t offset, bool write) {
  const uint8_t dir = write ? kW : kR;
  for (const RegisterInfo& r : kRegisters) {
    if (r.bar == bar && r.offset == offset && (r.dirs & dir)) return &r;
  }
  return nullptr;
}

const RegisterInfo& Info(VarnoRegister reg) { return kRegisters[size_t(reg)]; }

uint32_t Ones(unsigned bytes) { return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1; }

}  // namespace

PciIdentity MultifunctionBoard::Identity() {
  PciIdentity id;
  id.vendorId = VARNO_PCI_VENDOR_ID;
  id.deviceId = VARNO_PCI_DEVICE_ID;
  id.classCode = 0x118000;  // data acquisition controller, other
  id.subsystemVendorId = VARNO_PCI_VENDOR_ID;
  id.subsystemId = VARNO_PCI_DEVICE_ID;
  return id;
}

const char* MultifunctionBoard::Name(VarnoRegister reg) { return Info(reg).name; }

MultifunctionBoard::MultifunctionBoard(const BarSet& bars, uint8_t interruptLine, uint8_t interruptPin)
    : PciFunction(Identity(), bars, interruptLine, interruptPin) {}

uint16_t MultifunctionBoard::BridgeBase() const { return uint16_t(bar(VARNO_BRIDGE_BAR).base); }

uint16_t MultifunctionBoard::IoBase() const { return uint16_t(bar(VARNO_BOARD_BAR).base); }

uint16_t MultifunctionBoard::Port(VarnoRegister reg) const {
  const RegisterInfo& r = Info(reg);
  return uint16_t((r.bar == VARNO_BRIDGE_BAR ? BridgeBase() : IoBase()) + r.offset);
}

// ---- Register handlers --------------------------------------------------------

uint32_t MultifunctionBoard::ReadRegister(VarnoRegister reg) {
  switch (reg) {
    case VarnoRegister::kCounter0:
    case VarnoRegister::kCounter1:
    case VarnoRegister::kCounter2:
      return s_.counterLatch[size_t(reg) - size_t(VarnoRegister::kCounter0)];
    case VarnoRegister::kAdStatus:
      return s_.adStatus;
    case VarnoRegister::kDigitalIo:
      return s_.digitalInputs;
    case VarnoRegister::kAdData:
      return s_.adData;
    case VarnoRegister::kInterruptControl:
      return s_.interruptControl;
    default:
      return 0xFFFFFFFFu;  // write-only; the decode table never routes a read here
  }
}

void MultifunctionBoard::WriteRegister(VarnoRegister reg, unsigned width, uint32_t value) {
  const uint8_t byte = uint8_t(value);
  switch (reg) {
    case VarnoRegister::kCounter0:
    case VarnoRegister::kCounter1:
    case VarnoRegister::kCounter2:
      s_.counterLatch[size_t(reg) - size_t(VarnoRegister::kCounter0)] = byte;
      break;
    case VarnoRegister::kCounterControl:
      s_.counterControl = byte;
      break;
    case VarnoRegister::kChannelSelect:
      s_.channel = byte;
      break;
    case VarnoRegister::kGainControl:
      s_.gain = byte;
      break;
    case VarnoRegister::kAdModeControl:
      s_.adMode = byte;
      break;
    case VarnoRegister::kSoftwareTrigger:
      ++s_.triggers;
      break;
    case VarnoRegister::kDigitalIo:
      // An 8-bit write enables the low byte lane only.
      s_.digitalOutputs = width == 1 ? uint16_t((s_.digitalOutputs & 0xFF00u) | byte) : uint16_t(value);
      break;
    case VarnoRegister::kInterruptControl:
      s_.interruptControl = byte;
      break;
    default:
      break;  // read-only; the decode table never routes a write here
  }
}

// ---- Decoding and bookkeeping ------------------------------------------------------

uint32_t MultifunctionBoard::IoRead(int bar, uint32_t offset, unsigned width) {
  const RegisterInfo* r = Decode(bar, offset, false);
  if (!r) {
    ++s_.unclaimed;
    return Ones(width);
  }
  ++s_.reads[size_t(r->reg)];
  const unsigned bytes = width < r->bytes ? width : r->bytes;
  const uint32_t value = ReadRegister(r->reg) & Ones(bytes);
  return value | (Ones(width) & ~Ones(bytes));
}

void MultifunctionBoard::IoWrite(int bar, uint32_t offset, unsigned width, uint32_t value) {
  const RegisterInfo* r = Decode(bar, offset, true);
  if (!r) {
    ++s_.unclaimed;
    return;
  }
  const unsigned bytes = width < r->bytes ? width : r->bytes;
  value &= Ones(bytes);
  ++s_.writes[size_t(r->reg)];
  s_.lastWritten[size_t(r->reg)] = value;
  WriteRegister(r->reg, bytes, value);
}

const char* MultifunctionBoard::RegisterName(int bar, uint32_t offset, bool write) const {
  const RegisterInfo* r = Decode(bar, offset, write);
  return r ? r->name : nullptr;
}

// ---- Bench conveniences --------------------------------------------------------------

MultifunctionBoard& Bench::AddMultifunctionBoard(PciLocation at) {
  BarSet bars;
  bars[0] = Bar::Memory(nextMemory_, 0x80);
  nextMemory_ -= 0x1000;
  bars[VARNO_BRIDGE_BAR] = Bar::Io(AllocateIo(VARNO_BRIDGE_BLOCK_SIZE), VARNO_BRIDGE_BLOCK_SIZE);
  bars[VARNO_BOARD_BAR] = Bar::Io(AllocateIo(VARNO_BOARD_BLOCK_SIZE), VARNO_BOARD_BLOCK_SIZE);
  static constexpr uint8_t kIrqs[] = {11, 10, 5, 9};
  const uint8_t irq = kIrqs[nextIrq_++ % 4];
  return AddMultifunctionBoard(at, bars, irq);
}

MultifunctionBoard& Bench::AddMultifunctionBoard(PciLocation at, const BarSet& bars, uint8_t irq,
                                                 uint8_t pin) {
  return Add(at, std::make_unique<MultifunctionBoard>(bars, irq, pin));
}

}  // namespace daqsim
