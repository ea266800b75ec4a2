#include "daqsim/multifunction_board.h"

#include "board_layout.h"
#include "bytes.h"

namespace daqsim {
namespace {

enum Dir : uint8_t { kR = 1, kW = 2, kRW = 3 };

// The decode table: where each register sits, its width and the directions
// it serves. Written from the board's documentation, independently of the
// library's register map (see board_layout.h).
constexpr int kBridge = layout::kBridgeIoBar;
constexpr int kBlock = layout::kBoardBlockBar;

struct RegisterInfo {
  VarnoRegister reg;
  int bar;
  uint32_t offset;
  uint8_t bytes;
  uint8_t dirs;
  const char* name;
};

constexpr RegisterInfo kRegisters[kVarnoRegisterCount] = {
    {VarnoRegister::kCounter0, kBlock, 0x00, 1, kRW, "Counter0"},
    {VarnoRegister::kCounter1, kBlock, 0x04, 1, kRW, "Counter1"},
    {VarnoRegister::kCounter2, kBlock, 0x08, 1, kRW, "Counter2"},
    {VarnoRegister::kCounterControl, kBlock, 0x0C, 1, kW, "CounterControl"},
    {VarnoRegister::kChannelSelect, kBlock, 0x10, 1, kW, "ChannelSelect"},
    {VarnoRegister::kAdStatus, kBlock, 0x10, 1, kR, "AdStatus"},
    {VarnoRegister::kGainControl, kBlock, 0x14, 1, kW, "GainControl"},
    {VarnoRegister::kAdModeControl, kBlock, 0x18, 1, kW, "AdModeControl"},
    {VarnoRegister::kSoftwareTrigger, kBlock, 0x1C, 2, kW, "SoftwareTrigger"},
    {VarnoRegister::kDigitalIo, kBlock, 0x20, 2, kRW, "DigitalIo"},
    {VarnoRegister::kAdData, kBlock, 0x30, 2, kR, "AdData"},
    {VarnoRegister::kInterruptControl, kBridge, 0x4C, 1, kRW, "InterruptControl"},
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

}  // namespace

PciIdentity MultifunctionBoard::Identity() {
  PciIdentity id;
  id.vendorId = layout::kVendorId;
  id.deviceId = layout::kVarnoDeviceId;
  id.classCode = layout::kClassCode;
  id.subsystemVendorId = layout::kVendorId;
  id.subsystemId = layout::kVarnoDeviceId;
  return id;
}

const char* MultifunctionBoard::Name(VarnoRegister reg) { return Info(reg).name; }

MultifunctionBoard::MultifunctionBoard(const BarSet& bars, uint8_t interruptLine, uint8_t interruptPin)
    : PciFunction(Identity(), bars, interruptLine, interruptPin) {}

uint16_t MultifunctionBoard::BridgeBase() const { return uint16_t(bar(kBridge).base); }

uint16_t MultifunctionBoard::IoBase() const { return uint16_t(bar(kBlock).base); }

uint16_t MultifunctionBoard::Port(VarnoRegister reg) const {
  const RegisterInfo& r = Info(reg);
  return uint16_t(bar(r.bar).base + r.offset);
}

// ---- Register handlers --------------------------------------------------------

namespace {

// The 8254 register index of a timer register: counters 0-2, control word 3.
int TimerRegister(VarnoRegister reg) { return int(reg) - int(VarnoRegister::kCounter0); }
static_assert(int(VarnoRegister::kCounterControl) - int(VarnoRegister::kCounter0) == I8254::kControlRegister,
              "CounterControl is the 8254's control register");

}  // namespace

uint32_t MultifunctionBoard::ReadRegister(VarnoRegister reg) {
  const uint64_t now = NowNs();
  switch (reg) {
    case VarnoRegister::kCounter0:
    case VarnoRegister::kCounter1:
    case VarnoRegister::kCounter2:
      return s_.timer.Read(TimerRegister(reg), now);
    case VarnoRegister::kAdStatus:
      return s_.converter.Status(now);
    case VarnoRegister::kDigitalIo:
      return s_.digitalInputs;
    case VarnoRegister::kAdData:
      return s_.converter.Data(now);
    case VarnoRegister::kInterruptControl:
      return s_.interruptControl;
    default:
      return 0xFFFFFFFFu;  // write-only; the decode table never routes a read here
  }
}

void MultifunctionBoard::WriteRegister(VarnoRegister reg, unsigned width, uint32_t value) {
  const uint64_t now = NowNs();
  const uint8_t byte = uint8_t(value);
  switch (reg) {
    case VarnoRegister::kCounter0:
    case VarnoRegister::kCounter1:
    case VarnoRegister::kCounter2:
    case VarnoRegister::kCounterControl:
      s_.timer.Write(TimerRegister(reg), byte, now);
      break;
    case VarnoRegister::kChannelSelect:
      s_.converter.SelectChannel(byte, now);
      break;
    case VarnoRegister::kGainControl:
      s_.converter.SetGain(byte, now);
      break;
    case VarnoRegister::kAdModeControl:
      s_.converter.SetMode(byte, now);
      break;
    case VarnoRegister::kSoftwareTrigger:
      s_.converter.SoftwareTrigger(now);
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

// ---- Pacer and finished conversions ------------------------------------------------

void MultifunctionBoard::CatchUp() {
  const uint64_t now = NowNs();
  if (s_.neverFinishesAt <= now) {
    FeedPacer(s_.neverFinishesAt);
    s_.converter.SetNeverFinishes(true, s_.neverFinishesAt);
    s_.neverFinishesAt = kNoFault;
  }
  FeedPacer(now);
  DrainConversions(now);
}

void MultifunctionBoard::FeedPacer(uint64_t untilNs) {
  // A long gap with a fast pacer yields many conversions: hand them on in
  // slices so that none is pushed out of the converter's queue.
  constexpr uint64_t kDrainEvery = AdConverter::kMaxQueued / 2;
  uint64_t fed = 0;
  for (uint64_t t = s_.timer.NextOutRisingEdge(0, s_.pacerFedNs); t <= untilNs;
       t = s_.timer.NextOutRisingEdge(0, t)) {
    s_.converter.PacerTrigger(t);
    if (++fed % kDrainEvery == 0) DrainConversions(t);
  }
  if (untilNs > s_.pacerFedNs) s_.pacerFedNs = untilNs;
}

void MultifunctionBoard::DrainConversions(uint64_t nowNs) {
  for (const AdConversion& c : s_.converter.TakeCompleted(nowNs)) ConversionFinished(c);
}

void MultifunctionBoard::ConversionFinished(const AdConversion& conversion) {
  ++s_.conversionsFinished;
  s_.conversionLog.push_back(conversion);
  if (s_.conversionLog.size() > kConversionLogLimit) s_.conversionLog.pop_front();
  // The interrupt: a pacer conversion in interrupt mode, the bridge passing
  // it on at the instant the conversion ends. The catch-up runs before every
  // register write, so interruptControl is the value in force at doneNs.
  const bool interruptMode = (conversion.mode & AdConverter::kInterruptOnEnd) != 0;
  const bool bridgeOn = (s_.interruptControl & kInterruptEnableBits) == kInterruptEnableBits;
  if (conversion.pacer && interruptMode && bridgeOn) {
    ++s_.interruptsRaised;
    if (sink_) sink_->ServiceInterrupt(*this, conversion);
  }
}

// ---- Interrupt connection ------------------------------------------------------------

MultifunctionBoard::~MultifunctionBoard() {
  if (!sink_) return;
  CatchUp();  // the interrupts raised before the board went were serviced
  sink_->Disconnected(*this);
}

void MultifunctionBoard::ConnectInterrupt(InterruptSink* sink) {
  if (sink == sink_) return;
  InterruptSink* old = sink_;
  sink_ = sink;
  if (old) old->Disconnected(*this);
}

// ---- Bench side: signals, clock, faults, views ------------------------------------------

bool MultifunctionBoard::SetSignal(int channel, const Signal& signal) {
  CatchUp();
  return s_.converter.SetSignal(channel, signal);
}

void MultifunctionBoard::SetConversionNs(uint64_t ns) {
  CatchUp();
  s_.converter.SetConversionNs(ns);
}

void MultifunctionBoard::SetCounterClockHz(uint32_t hz) {
  CatchUp();
  s_.timer.SetClockHz(hz, NowNs());
}

void MultifunctionBoard::SetConverterNeverFinishes(bool on) {
  CatchUp();
  s_.neverFinishesAt = kNoFault;
  s_.converter.SetNeverFinishes(on, NowNs());
}

void MultifunctionBoard::SetConverterNeverFinishesAt(uint64_t atNs) {
  if (atNs <= NowNs()) {
    SetConverterNeverFinishes(true);
    return;
  }
  CatchUp();
  s_.neverFinishesAt = atNs;
}

void MultifunctionBoard::SetEocStuckHigh(bool on) {
  CatchUp();
  s_.converter.SetEocStuckHigh(on);
}

void MultifunctionBoard::SetCounterClockStopped(bool on) {
  CatchUp();
  s_.timer.SetClockStopped(on, NowNs());
}

// ---- Decoding and bookkeeping ------------------------------------------------------

uint32_t MultifunctionBoard::IoRead(int bar, uint32_t offset, unsigned width) {
  CatchUp();
  const RegisterInfo* r = Decode(bar, offset, false);
  if (!r) {
    ++s_.unclaimed;
    return AllOnes(width);
  }
  ++s_.reads[size_t(r->reg)];
  const unsigned bytes = width < r->bytes ? width : r->bytes;
  const uint32_t value = ReadRegister(r->reg) & AllOnes(bytes);
  return value | (AllOnes(width) & ~AllOnes(bytes));
}

void MultifunctionBoard::IoWrite(int bar, uint32_t offset, unsigned width, uint32_t value) {
  CatchUp();
  const RegisterInfo* r = Decode(bar, offset, true);
  if (!r) {
    ++s_.unclaimed;
    return;
  }
  const unsigned bytes = width < r->bytes ? width : r->bytes;
  value &= AllOnes(bytes);
  ++s_.writes[size_t(r->reg)];
  s_.lastWritten[size_t(r->reg)] = value;
  WriteRegister(r->reg, bytes, value);
}

const char* MultifunctionBoard::RegisterName(int bar, uint32_t offset, bool write) const {
  const RegisterInfo* r = Decode(bar, offset, write);
  return r ? r->name : nullptr;
}

}  // namespace daqsim
