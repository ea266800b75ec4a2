// The VARNO multifunction board (PCI 0x1234:0x5C2A). The bench describes it
// from the board's documentation, independently of the library's register
// map (dremor/varno_board_map.h), so that tests catch a wrong entry there;
// the decode table is in multifunction_board.cpp.
//
//   BAR0  memory window of the bridge (not decoded here)
//   BAR1  bridge block, 128 I/O ports: InterruptControl at +0x4C
//   BAR2  board block, 64 I/O ports: 8254 timer, A/D control and data, digital port
//   0x3C  interrupt line and pin
//
// Built like a device model of a machine emulator: all the board holds is in
// one state record (MultifunctionBoardState), an access is decoded to a
// register through one table, and each register has its read and write
// handler. Later models (the 8254, the A/D converter) replace the handlers of
// their registers and add to the state; decoding, naming and bookkeeping stay.
//
// Decoding: an access belongs to a register only when it starts at the
// register's offset in the direction the register serves (ChannelSelect is
// written and AdStatus read at the same port). An 8-bit register takes the low
// byte of a wider access and a wider read returns ones in the lanes above it;
// a 16-bit register takes the low byte of an 8-bit access. Any other access is
// "unclaimed": reads float high, writes vanish, the trace names no register,
// and unclaimedAccesses() counts it so tests can prove software touches only
// real registers.
//
// The models behind the registers:
//   Counter0..2, CounterControl  an 8254 (i8254.h), registers 0..3. Its CLK is
//                  the board's counter clock, kDefaultCounterClockHz (4 MHz)
//                  unless the bench sets another with SetCounterClockHz.
//   ChannelSelect, AdStatus, GainControl, AdModeControl, SoftwareTrigger,
//   AdData         the A/D converter (ad_converter.h): 16 channels, each with
//                  a Signal, ranges from the GainControl byte, 8 us per
//                  conversion, AdData bits 12-15 read 1.
//   DigitalIo      the output latch and the input connector.
// The pacer: every rising edge of counter 0's OUT triggers a conversion,
// whatever AdModeControl holds (it selects only whether a finished conversion
// interrupts). A parked counter 0 (count 1 in mode 2) gives no pulses, so a
// parked pacer triggers nothing.
//
// Time: the board reads the bench clock (Clock, 1 us per port access). A read
// samples the board at the start of its I/O cycle, a write takes effect at
// its end (the bench records the access, advances the clock, then hands the
// data over), so a write traced at t reaches the board at t + 1 us. Nothing
// ticks: before every register access, signal or fault change the board
// catches up (CatchUp): it feeds the converter every pacer edge up to now, in
// time order, then takes every conversion finished by now through
// ConversionFinished, the one place a finished conversion goes.
//
// Interrupt: a conversion started by the pacer while AdModeControl bit 2
// (interrupt on end of conversion) was set, and finishing while the bridge's
// InterruptControl holds the enable bits 0x43, raises the board's interrupt at
// its finishing instant. Software-triggered conversions never interrupt (they
// are polled). The interrupt goes to the InterruptSink connected to the board
// (the interrupt driver that bound it), which services it there and then:
// the kernel's accesses happen outside the application's thread, so they
// take no time of the bench clock and do not appear in the port trace; the
// service routine's read of AdData sees the word of the conversion that
// raised the interrupt. interruptsRaised() counts interrupts, serviced or not.
#ifndef DAQSIM_MULTIFUNCTION_BOARD_H
#define DAQSIM_MULTIFUNCTION_BOARD_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "daqsim/ad_converter.h"
#include "daqsim/i8254.h"
#include "daqsim/pci.h"
#include "daqsim/signal.h"

namespace daqsim {

class MultifunctionBoard;

// Who services a board's interrupt: the interrupt driver bound to it. The
// board and the sink know each other; whichever goes first tells the other.
class InterruptSink {
 public:
  // The board raised its interrupt at conversion.doneNs; AdData then shows
  // conversion.word. Called from the board's catch-up, in time order.
  virtual void ServiceInterrupt(MultifunctionBoard& board, const AdConversion& conversion) = 0;
  // The board is being destroyed or was connected to another sink: forget it.
  virtual void Disconnected(MultifunctionBoard& board) = 0;

 protected:
  ~InterruptSink() = default;
};

// The board's registers, for looking at them by name.
enum class VarnoRegister : uint8_t {
  kCounter0,
  kCounter1,
  kCounter2,
  kCounterControl,
  kChannelSelect,
  kAdStatus,
  kGainControl,
  kAdModeControl,
  kSoftwareTrigger,
  kDigitalIo,
  kAdData,
  kInterruptControl,
};
inline constexpr size_t kVarnoRegisterCount = 12;

// Everything the board holds.
struct MultifunctionBoardState {
  // Bookkeeping of every register: the last value written to it (0 before the
  // first write), and how often it was written and read.
  std::array<uint32_t, kVarnoRegisterCount> lastWritten{};
  std::array<uint64_t, kVarnoRegisterCount> writes{};
  std::array<uint64_t, kVarnoRegisterCount> reads{};
  uint64_t unclaimed = 0;

  // The 8254 and the A/D converter; `pacerFedNs` is the time up to which
  // counter 0's rising edges have been given to the converter.
  I8254 timer;
  AdConverter converter;
  uint64_t pacerFedNs = 0;
  // When a scheduled never-finishes fault sets in (UINT64_MAX: none).
  uint64_t neverFinishesAt = UINT64_MAX;

  // Conversions finished since power-up (or since the log was cleared, for
  // the log), oldest first; the log keeps the latest kConversionLogLimit.
  uint64_t conversionsFinished = 0;
  std::deque<AdConversion> conversionLog;

  // Digital port: the output latch, and the pattern on the input connector.
  uint16_t digitalOutputs = 0;
  uint16_t digitalInputs = 0;

  // Bridge.
  uint8_t interruptControl = 0;  // 0x43: board interrupt enabled
  // Interrupts raised since power-up (serviced or not).
  uint64_t interruptsRaised = 0;
};

class MultifunctionBoard : public PciFunction {
 public:
  MultifunctionBoard(const BarSet& bars, uint8_t interruptLine, uint8_t interruptPin = 1);
  ~MultifunctionBoard() override;

  static PciIdentity Identity();
  // "Counter0", "ChannelSelect", "AdStatus", ..., as the trace shows them.
  static const char* Name(VarnoRegister reg);

  const MultifunctionBoardState& state() const { return s_; }
  uint32_t lastWritten(VarnoRegister reg) const { return s_.lastWritten[Index(reg)]; }
  uint64_t writeCount(VarnoRegister reg) const { return s_.writes[Index(reg)]; }
  uint64_t readCount(VarnoRegister reg) const { return s_.reads[Index(reg)]; }
  uint64_t unclaimedAccesses() const { return s_.unclaimed; }

  // ---- Digital port -------------------------------------------------------------
  uint16_t digitalOutputs() const { return s_.digitalOutputs; }
  void SetDigitalInputs(uint16_t pattern) { s_.digitalInputs = pattern; }
  uint8_t interruptControl() const { return s_.interruptControl; }

  // ---- Interrupt ----------------------------------------------------------------------
  // The bridge passes the board's interrupt on while these bits of
  // InterruptControl are all set.
  static constexpr uint8_t kInterruptEnableBits = 0x43;
  // Connects the sink that services the interrupt from now on (nullptr: none);
  // a sink connected before is told it was disconnected.
  void ConnectInterrupt(InterruptSink* sink);
  InterruptSink* interruptSink() const { return sink_; }
  // Interrupts raised so far, caught up first.
  uint64_t interruptsRaised() { return CaughtUp().interruptsRaised; }

  // Brings the board up to the bench's time (see CatchUp below); for the
  // interrupt driver, which takes the interrupts due before answering.
  void Synchronize() { CatchUp(); }

  // ---- Analog inputs ----------------------------------------------------------------
  // Connects `signal` to input `channel` (0-15) from now on; false and no
  // change for another channel. Unconnected inputs read 0 V.
  bool SetSignal(int channel, const Signal& signal);
  const Signal& SignalOf(int channel) const { return s_.converter.SignalOf(channel); }
  // Conversion time from now on (default AdConverter::kDefaultConversionNs, 8 us).
  void SetConversionNs(uint64_t ns);

  // ---- Counter clock ------------------------------------------------------------------
  // The CLK of all three counters, a property of the board: 4 MHz unless set.
  // A change takes effect now; edges already counted stay counted.
  static constexpr uint32_t kDefaultCounterClockHz = I8254::kDefaultClockHz;
  uint32_t CounterClockHz() const { return s_.timer.ClockHz(); }
  void SetCounterClockHz(uint32_t hz);

  // ---- Faults -----------------------------------------------------------------------------
  // A conversion started while set never finishes: AdStatus bit 0 stays 0.
  // Clearing it abandons a hung conversion (no result) and cancels a
  // scheduled onset.
  void SetConverterNeverFinishes(bool on);
  // The same fault, setting in at bench time `atNs` (at once if that has
  // passed): for a fault that strikes in the middle of a library call.
  void SetConverterNeverFinishesAt(uint64_t atNs);
  // AdStatus bit 0 reads 1 at all times; conversions still run.
  void SetEocStuckHigh(bool on);
  // No CLK edges reach the counters: they freeze, the pacer stops.
  void SetCounterClockStopped(bool on);

  // ---- Looking inside (read-only) -------------------------------------------------------
  // The 8254. Its queries take a time: pass the bench's NowNs(), e.g.
  // timer().Value(2, bench.NowNs()), timer().Parked(0).
  const I8254& timer() const { return s_.timer; }
  // The converter, caught up with the bench clock first (pacer edges fed):
  // converter().Counters(bench.NowNs()), .GainByte(), .Channel(), ...
  const AdConverter& converter() { return CaughtUp().converter; }
  // Finished conversions, oldest first (trigger time, channel, AdData word,
  // pacer or software), caught up first. The latest kConversionLogLimit.
  static constexpr size_t kConversionLogLimit = 65536;
  const std::deque<AdConversion>& conversionLog() { return CaughtUp().conversionLog; }
  void ClearConversionLog() { s_.conversionLog.clear(); }
  uint64_t conversionsFinished() { return CaughtUp().conversionsFinished; }

  // Bases as currently programmed, and the port of a register.
  uint16_t BridgeBase() const;
  uint16_t IoBase() const;
  uint16_t Port(VarnoRegister reg) const;

  uint32_t IoRead(int bar, uint32_t offset, unsigned width) override;
  void IoWrite(int bar, uint32_t offset, unsigned width, uint32_t value) override;
  const char* RegisterName(int bar, uint32_t offset, bool write) const override;

 protected:
  // The register handlers. `value` is already cut to the register's width;
  // a read handler returns the register's contents (its width).
  uint32_t ReadRegister(VarnoRegister reg);
  void WriteRegister(VarnoRegister reg, unsigned width, uint32_t value);

  // Brings the converter up to the bench's time: every rising edge of
  // counter 0's OUT up to now becomes a pacer trigger, in time order; then
  // every conversion finished by now goes through ConversionFinished.
  void CatchUp();
  // The state, caught up first: what every query of the board looks at.
  const MultifunctionBoardState& CaughtUp() {
    CatchUp();
    return s_;
  }
  // Feeds the pacer edges up to `untilNs` to the converter.
  void FeedPacer(uint64_t untilNs);
  // Takes the conversions finished by `nowNs` from the converter.
  void DrainConversions(uint64_t nowNs);
  // One finished conversion, in order of completion: kept in the log, and
  // raises the interrupt when the conditions above hold.
  void ConversionFinished(const AdConversion& conversion);

  MultifunctionBoardState s_;
  InterruptSink* sink_ = nullptr;

 private:
  static size_t Index(VarnoRegister reg) { return size_t(reg); }
  static constexpr uint64_t kNoFault = UINT64_MAX;
};

}  // namespace daqsim

#endif
