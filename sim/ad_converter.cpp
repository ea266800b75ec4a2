#include "daqsim/ad_converter.h"

#include <algorithm>

namespace daqsim {

namespace {

// Bit 4 picks the family (divide +-10 V by powers of two, or by powers of ten), bits 0-1 the
// step. The two smallest ranges are the single-precision constants the software converts with.
// The bench's own table, written from the board's documentation independently of the
// library's (VARNO_RANGE_TABLE in dremor/varno_board_map.h), so that tests catch a wrong
// entry there.
constexpr float kRanges[2][4] = {{10.0f, 5.0f, 2.5f, 1.25f}, {10.0f, 1.0f, 0.1f, 0.01f}};

}  // namespace

AdConverter::AdConverter() = default;

double AdConverter::RangeVoltsFor(uint8_t gainByte) {
  return double(kRanges[(gainByte >> 4) & 1][gainByte & 3]);
}

// ---- registers -----------------------------------------------------------------------------

void AdConverter::NoteChange(uint64_t nowNs) {
  lastChangeNs_ = std::max(lastChangeNs_, nowNs);
}

void AdConverter::SelectChannel(uint8_t value, uint64_t nowNs) {
  NoteChange(nowNs);
  if (value >= kChannels) irregular_ |= kChannelBitsIgnored;
  channelByte_ = value;
}

void AdConverter::SetGain(uint8_t value, uint64_t nowNs) {
  NoteChange(nowNs);
  if (value & ~kDecodedGainBits) irregular_ |= kGainBitsIgnored;
  gainByte_ = value;
}

void AdConverter::SetMode(uint8_t value, uint64_t nowNs) {
  NoteChange(nowNs);
  if (value & ~kInterruptOnEnd) irregular_ |= kModeBitsIgnored;
  mode_ = value;
}

void AdConverter::SoftwareTrigger(uint64_t nowNs) { Trigger(nowNs, false); }

void AdConverter::PacerTrigger(uint64_t tNs) { Trigger(tNs, true); }

void AdConverter::Trigger(uint64_t tNs, bool pacer) {
  if (tNs < lastTriggerNs_) {
    irregular_ |= kTriggerWentBack;
    tNs = lastTriggerNs_;
  }
  if (tNs < lastChangeNs_) irregular_ |= kTriggerAfterLaterWrite;
  lastTriggerNs_ = tNs;

  if (latest_.valid && tNs < latest_.c.doneNs) {  // still converting (or hung)
    ++counts_.overruns;
    return;
  }
  if (latest_.valid && latest_.delivers) {
    Report(tNs);
    priorData_ = latest_.c.word;
  }

  AdConversion c;
  c.triggerNs = tNs;
  const uint64_t room = kNever - 1 - std::min(tNs, kNever - 1);  // kNever means "hung"
  c.doneNs = neverFinishes_ ? kNever : tNs + std::min(conversionNs_, room);
  c.channel = uint8_t(Channel());
  c.gain = gainByte_;
  c.mode = mode_;
  c.pacer = pacer;
  c.volts = signals_[c.channel].VoltsAt(tNs);  // sample-and-hold: the input at the trigger
  c.word = uint16_t(kDataHighBits | QuantiseToCode(c.volts, RangeVolts()));
  latest_.valid = true;
  latest_.delivers = !neverFinishes_;
  latest_.reported = false;
  latest_.c = c;
  ++counts_.started;
}

bool AdConverter::Finished(uint64_t nowNs) const {
  return latest_.valid && latest_.delivers && nowNs >= latest_.c.doneNs;
}

uint8_t AdConverter::Status(uint64_t nowNs) const {
  if (eocStuckHigh_) return kEndOfConversion;
  const bool busy = latest_.valid && nowNs >= latest_.c.triggerNs && nowNs < latest_.c.doneNs;
  return busy ? 0 : kEndOfConversion;
}

uint16_t AdConverter::Data(uint64_t nowNs) const {
  return Finished(nowNs) ? latest_.c.word : priorData_;
}

// ---- inputs ----------------------------------------------------------------------------------

bool AdConverter::SetSignal(int channel, const Signal& signal) {
  if (channel < 0 || channel >= kChannels) return false;
  signals_[size_t(channel)] = signal;
  return true;
}

const Signal& AdConverter::SignalOf(int channel) const {
  static const Signal kGround;
  return channel < 0 || channel >= kChannels ? kGround : signals_[size_t(channel)];
}

// ---- finished conversions --------------------------------------------------------------------

void AdConverter::Report(uint64_t nowNs) {
  if (latest_.reported || !Finished(nowNs)) return;
  latest_.reported = true;
  ++counts_.completed;
  queue_.push_back(latest_.c);
  if (queue_.size() > kMaxQueued) {
    queue_.pop_front();
    ++counts_.dropped;
  }
}

std::vector<AdConversion> AdConverter::TakeCompleted(uint64_t nowNs) {
  NoteChange(nowNs);
  Report(nowNs);
  std::vector<AdConversion> out(queue_.begin(), queue_.end());
  queue_.clear();
  return out;
}

uint64_t AdConverter::PendingCompletionNs() const {
  return latest_.valid && latest_.delivers && !latest_.reported ? latest_.c.doneNs : kNever;
}

// ---- faults and bookkeeping ------------------------------------------------------------------

void AdConverter::SetNeverFinishes(bool on, uint64_t nowNs) {
  NoteChange(nowNs);
  neverFinishes_ = on;
  if (!on && latest_.valid && latest_.c.doneNs == kNever) {
    latest_.c.doneNs = std::max(nowNs, latest_.c.triggerNs);  // abandoned, no result
  }
}

AdConverter::Counts AdConverter::Counters(uint64_t nowNs) const {
  Counts c = counts_;
  if (!latest_.reported && Finished(nowNs)) ++c.completed;
  return c;
}

}  // namespace daqsim
