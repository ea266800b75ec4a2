// Model of the A/D converter section of the multifunction board: input multiplexer,
// programmable-gain amplifier, sample-and-hold and a 12-bit successive-approximation
// converter with its end-of-conversion flag.
//
// Registers (the board maps block offsets to these calls):
//   ChannelSelect (+0x10, write)  multiplexer: 16 single-ended inputs, the low 4 bits of the
//                                 byte pick the channel, bits 4-7 are not decoded (channel 16
//                                 reads channel 0). Power-up: 0.
//   AdStatus      (+0x10, read)   bit 0 = end of conversion: 0 from a trigger at t until
//                                 t + ConversionNs(), then 1; bits 1-7 read 0. Power-up: 0x01
//                                 (idle, nothing pending).
//   GainControl   (+0x14, write)  input range; the board decodes bit 4 (range family) and bits
//                                 0-1 (step) only, see RangeVoltsFor. Power-up: 0x00, +-10 V.
//   AdModeControl (+0x18, write)  stored; bit 2 = interrupt on end of conversion (acted on by
//                                 the board, not here). Power-up: 0x00.
//   SoftwareTrigger (+0x1C, write) any write starts a conversion.
//   AdData        (+0x30, read)   bits 0-11 = offset-binary code of the latest finished
//                                 conversion; bits 12-15 are not driven by the converter and
//                                 read as 1 (kDataHighBits). Power-up: 0xF800 (code 2048).
// A rising edge of the pacer (8254 counter 0 OUT) is a trigger too, whatever the mode byte.
//
// Conversion: a trigger at t samples the selected input's Signal at exactly t, with the
// channel and range in force then, and the result (QuantiseToCode) appears in AdData at
// t + ConversionNs() (default 8 us), the same instant status bit 0 rises. A trigger at a time
// t < end of the conversion in progress is ignored and counted as an overrun; one at exactly
// the end time starts the next conversion.
//
// Time is derived, never ticked, as in the other device models: every call takes virtual time
// in nanoseconds, and the state depends only on the trigger times, not on when they are fed.
// The owner may feed pacer edges late and in bulk (at the next register access, say), but in
// non-decreasing time order and before any register write, SetSignal, fault change or
// TakeCompleted at a later time; a trigger that breaks this is still converted and recorded in
// Irregularities(). Queries are const and may be made at any time; a query earlier than the
// latest trigger sees that trigger's predecessor as finished.
#ifndef DAQSIM_AD_CONVERTER_H
#define DAQSIM_AD_CONVERTER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "daqsim/signal.h"

namespace daqsim {

// One conversion, as kept for the owner (interrupt per conversion, tools, tests).
struct AdConversion {
  uint64_t triggerNs = 0;  // sample instant
  uint64_t doneNs = 0;     // status bit 0 rises and AdData shows `word`
  uint8_t channel = 0;     // input sampled, 0..15
  uint8_t gain = 0;        // GainControl byte in force at the trigger
  uint8_t mode = 0;        // AdModeControl byte in force at the trigger
  bool pacer = false;      // started by a pacer edge, else by a software trigger
  double volts = 0;        // input voltage held by the sample-and-hold
  uint16_t word = 0;       // AdData word: kDataHighBits | code
};

class AdConverter {
 public:
  static constexpr int kChannels = 16;
  static constexpr uint64_t kDefaultConversionNs = 8000;
  static constexpr uint16_t kDataHighBits = 0xF000;  // AdData bits 12-15, never all 0
  static constexpr uint16_t kPowerUpData = kDataHighBits | 0x800;
  static constexpr uint8_t kEndOfConversion = 0x01;     // AdStatus bit 0
  static constexpr uint8_t kInterruptOnEnd = 0x04;      // AdModeControl bit 2
  static constexpr uint8_t kDecodedGainBits = 0x13;
  static constexpr size_t kMaxQueued = 65536;  // finished conversions kept for TakeCompleted
  static constexpr uint64_t kNever = UINT64_MAX;

  // Things the owner or the software did that the board does not decode, or call orders that
  // break the rules above. Sticky bit set.
  enum Irregularity : uint32_t {
    kChannelBitsIgnored = 1u << 0,  // ChannelSelect byte above 15: bits 4-7 dropped
    kGainBitsIgnored = 1u << 1,     // GainControl byte with bits outside 0x13 set
    kModeBitsIgnored = 1u << 2,     // AdModeControl byte with bits other than bit 2 set
    kTriggerWentBack = 1u << 3,     // trigger earlier than the previous one: taken at that time
    kTriggerAfterLaterWrite = 1u << 4,  // trigger fed after a state change made later than it
  };

  struct Counts {
    uint64_t started = 0;    // triggers that started a conversion
    uint64_t completed = 0;  // conversions finished with a result
    uint64_t overruns = 0;   // triggers ignored because a conversion was in progress
    uint64_t dropped = 0;    // finished conversions pushed out of the full TakeCompleted queue
  };

  AdConverter();

  // ---- registers -------------------------------------------------------------------------

  // ChannelSelect write: selects channel value & 0x0F for triggers from now on.
  void SelectChannel(uint8_t value, uint64_t nowNs);
  // GainControl write: selects RangeVoltsFor(value) for triggers from now on.
  void SetGain(uint8_t value, uint64_t nowNs);
  // AdModeControl write: stored as written.
  void SetMode(uint8_t value, uint64_t nowNs);
  // SoftwareTrigger write (any value, any width) at nowNs.
  void SoftwareTrigger(uint64_t nowNs);
  // Rising edge of the pacer's OUT at tNs.
  void PacerTrigger(uint64_t tNs);
  // AdStatus read: kEndOfConversion unless a conversion is in progress at nowNs (or the
  // never-finishes fault holds one); always kEndOfConversion with the stuck-high fault.
  uint8_t Status(uint64_t nowNs) const;
  // AdData read: kDataHighBits | code of the latest conversion finished by nowNs.
  uint16_t Data(uint64_t nowNs) const;

  // ---- register contents -----------------------------------------------------------------

  uint8_t ChannelSelectByte() const { return channelByte_; }
  int Channel() const { return channelByte_ & (kChannels - 1); }
  uint8_t GainByte() const { return gainByte_; }
  double RangeVolts() const { return RangeVoltsFor(gainByte_); }
  uint8_t Mode() const { return mode_; }
  bool InterruptOnEnd() const { return (mode_ & kInterruptOnEnd) != 0; }
  // Full scale of the input range selected by a GainControl byte, in volts (single-precision
  // values): bit 4 = 0: 10, 5, 2.5, 1.25 for bits 0-1 = 0..3; bit 4 = 1: 10, 1, 0.1f, 0.01f.
  // Other bits are not decoded: 0x04 acts as 0x00, 0x97 as 0x13.
  static double RangeVoltsFor(uint8_t gainByte);

  // ---- inputs and timing -----------------------------------------------------------------

  // Connects `signal` to input `channel` (0..15) for triggers from now on; returns false and
  // changes nothing for another channel number. Unconnected inputs read 0 V.
  bool SetSignal(int channel, const Signal& signal);
  // The signal on `channel`; 0 V for a channel number outside 0..15.
  const Signal& SignalOf(int channel) const;
  uint64_t ConversionNs() const { return conversionNs_; }
  // Conversion time for triggers from now on; 0 makes results appear at the trigger instant.
  void SetConversionNs(uint64_t ns) { conversionNs_ = ns; }

  // ---- finished conversions --------------------------------------------------------------

  // Removes and returns, oldest first, every conversion that finished with a result by nowNs
  // and was not returned before (at most kMaxQueued; older ones are counted as dropped).
  // Abandoned conversions (never-finishes fault) are not reported.
  std::vector<AdConversion> TakeCompleted(uint64_t nowNs);
  // End time of the latest conversion if it will deliver (or has delivered) a result that
  // TakeCompleted has not returned yet; kNever otherwise.
  uint64_t PendingCompletionNs() const;

  // ---- faults ----------------------------------------------------------------------------

  // Never-finishes fault: a conversion triggered while it is set never ends, so status bit 0
  // stays 0, AdData keeps its value and every later trigger is an overrun. Clearing it at
  // nowNs abandons such a conversion: status reads 1 from nowNs, AdData still unchanged, and
  // the next trigger converts normally. A conversion already running when the fault is set
  // finishes normally.
  void SetNeverFinishes(bool on, uint64_t nowNs);
  bool NeverFinishes() const { return neverFinishes_; }
  // Stuck-high fault: status bit 0 reads 1 at all times; conversions still run and deliver
  // their results at the usual time.
  void SetEocStuckHigh(bool on) { eocStuckHigh_ = on; }
  bool EocStuckHigh() const { return eocStuckHigh_; }

  // ---- bookkeeping -----------------------------------------------------------------------

  // Counters as of nowNs (a conversion finishing by nowNs counts as completed).
  Counts Counters(uint64_t nowNs) const;
  // Bit set of Irregularity values met since construction.
  uint32_t Irregularities() const { return irregular_; }

 private:
  struct Latest {
    bool valid = false;     // a conversion has been started since power-up
    bool delivers = false;  // finishes with a result (not hung, not abandoned)
    bool reported = false;  // queued for TakeCompleted and counted as completed
    AdConversion c;
  };

  void Trigger(uint64_t tNs, bool pacer);
  void NoteChange(uint64_t nowNs);  // register write, fault change or TakeCompleted at nowNs
  // Counts the latest conversion as completed and queues it, once, if it ended by nowNs.
  void Report(uint64_t nowNs);
  bool Finished(uint64_t nowNs) const;  // latest conversion delivered its result by nowNs

  std::array<Signal, kChannels> signals_{};
  uint8_t channelByte_ = 0;
  uint8_t gainByte_ = 0;
  uint8_t mode_ = 0;
  uint64_t conversionNs_ = kDefaultConversionNs;
  bool neverFinishes_ = false;
  bool eocStuckHigh_ = false;

  Latest latest_;                      // the most recently started conversion
  uint16_t priorData_ = kPowerUpData;  // AdData before `latest_` finishes
  std::deque<AdConversion> queue_;
  Counts counts_;
  uint64_t lastTriggerNs_ = 0;
  uint64_t lastChangeNs_ = 0;  // latest time of a register write or other state change
  uint32_t irregular_ = 0;
};

}  // namespace daqsim

#endif  // DAQSIM_AD_CONVERTER_H
