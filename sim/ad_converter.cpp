#include "ad_converter.h"

#include <algorithm>

namespace daqsim {

namespace {

// Bit 4 picks the family (divide +-10 V by powers of two, or by powers of ten), bits 0-1 the
// step. The two smallest ranges are the single-precision constants the software converts with.
constexpr float kRanges[2][4] = {{10.0f, 5.0f, 2.5f, 1.25f}, {10.0f, 1.0f, 0.1f, 0.01f}};

}  // namespace

AdConverter::AdConverter() = default;

double AdConverter::RangeVoltsFor(uint8_t gain_byte) {
  return double(kRanges[(gain_byte >> 4) & 1][gain_byte & 3]);
}

// ---- registers -----------------------------------------------------------------------------

void AdConverter::NoteChange(uint64_t now_ns) {
  last_change_ns_ = std::max(last_change_ns_, now_ns);
}

void AdConverter::SelectChannel(uint8_t value, uint64_t now_ns) {
  NoteChange(now_ns);
  if (value >= kChannels) irregular_ |= kChannelBitsIgnored;
  channel_byte_ = value;
}

void AdConverter::SetGain(uint8_t value, uint64_t now_ns) {
  NoteChange(now_ns);
  if (value & ~kDecodedGainBits) irregular_ |= kGainBitsIgnored;
  gain_byte_ = value;
}

void AdConverter::SetMode(uint8_t value, uint64_t now_ns) {
  NoteChange(now_ns);
  if (value & ~kInterruptOnEnd) irregular_ |= kModeBitsIgnored;
  mode_ = value;
}

void AdConverter::SoftwareTrigger(uint64_t now_ns) { Trigger(now_ns, false); }

void AdConverter::PacerTrigger(uint64_t t_ns) { Trigger(t_ns, true); }

void AdConverter::Trigger(uint64_t t_ns, bool pacer) {
  if (t_ns < last_trigger_ns_) {
    irregular_ |= kTriggerWentBack;
    t_ns = last_trigger_ns_;
  }
  if (t_ns < last_change_ns_) irregular_ |= kTriggerAfterLaterWrite;
  last_trigger_ns_ = t_ns;

  if (latest_.valid && t_ns < latest_.c.done_ns) {  // still converting (or hung)
    ++counts_.overruns;
    return;
  }
  if (latest_.valid && latest_.delivers) {
    Report(t_ns);
    prior_data_ = latest_.c.word;
  }

  AdConversion c;
  c.trigger_ns = t_ns;
  const uint64_t room = kNever - 1 - std::min(t_ns, kNever - 1);  // kNever means "hung"
  c.done_ns = never_finishes_ ? kNever : t_ns + std::min(conversion_ns_, room);
  c.channel = uint8_t(Channel());
  c.gain = gain_byte_;
  c.mode = mode_;
  c.pacer = pacer;
  c.volts = signals_[c.channel].VoltsAt(t_ns);  // sample-and-hold: the input at the trigger
  c.word = uint16_t(kDataHighBits | QuantiseToCode(c.volts, RangeVolts()));
  latest_.valid = true;
  latest_.delivers = !never_finishes_;
  latest_.reported = false;
  latest_.c = c;
  ++counts_.started;
}

bool AdConverter::Finished(uint64_t now_ns) const {
  return latest_.valid && latest_.delivers && now_ns >= latest_.c.done_ns;
}

uint8_t AdConverter::Status(uint64_t now_ns) const {
  if (eoc_stuck_high_) return kEndOfConversion;
  const bool busy = latest_.valid && now_ns >= latest_.c.trigger_ns && now_ns < latest_.c.done_ns;
  return busy ? 0 : kEndOfConversion;
}

uint16_t AdConverter::Data(uint64_t now_ns) const {
  return Finished(now_ns) ? latest_.c.word : prior_data_;
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

void AdConverter::Report(uint64_t now_ns) {
  if (latest_.reported || !Finished(now_ns)) return;
  latest_.reported = true;
  ++counts_.completed;
  queue_.push_back(latest_.c);
  if (queue_.size() > kMaxQueued) {
    queue_.pop_front();
    ++counts_.dropped;
  }
}

std::vector<AdConversion> AdConverter::TakeCompleted(uint64_t now_ns) {
  NoteChange(now_ns);
  Report(now_ns);
  std::vector<AdConversion> out(queue_.begin(), queue_.end());
  queue_.clear();
  return out;
}

uint64_t AdConverter::PendingCompletionNs() const {
  return latest_.valid && latest_.delivers && !latest_.reported ? latest_.c.done_ns : kNever;
}

// ---- faults and bookkeeping ------------------------------------------------------------------

void AdConverter::SetNeverFinishes(bool on, uint64_t now_ns) {
  NoteChange(now_ns);
  never_finishes_ = on;
  if (!on && latest_.valid && latest_.c.done_ns == kNever) {
    latest_.c.done_ns = std::max(now_ns, latest_.c.trigger_ns);  // abandoned, no result
  }
}

AdConverter::Counts AdConverter::Counters(uint64_t now_ns) const {
  Counts c = counts_;
  if (!latest_.reported && Finished(now_ns)) ++c.completed;
  return c;
}

}  // namespace daqsim
