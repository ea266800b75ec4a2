// The fetch of a background acquisition.
#include "background_fetch.h"

#include <fmt/format.h>

#include <algorithm>

#include "varno_boards.h"

namespace daqctl {

std::string BackgroundFetcher::Poll() {
  CheckDremor(VARNO_GetIntCount(&count_), "reading the interrupt count");
  // The driver's count is 32 bits wide and wraps; so does the difference.
  backlog_ = count_ - uint32_t(fetched_);
  if (backlog_ > kDriverCapacity) {
    return fmt::format("overrun: {} samples were waiting, more than the interrupt driver holds ({}), so "
                       "samples after sample {} were lost; stopped",
                       backlog_, kDriverCapacity, fetched_);
  }
  uint64_t want = backlog_;
  if (limit_ != 0) want = std::min<uint64_t>(want, limit_ - fetched_);
  if (want == 0) return {};
  words_.resize(size_t(want));
  // One request for everything waiting: if the driver dropped samples, it
  // holds fewer than its count says and refuses the request rather than
  // hand over a stream with a gap.
  const uint16_t status = VARNO_GetBuffer(uint32_t(want), words_.data());
  if (status == DREMOR_ERR_INTERRUPT_REQUEST) {
    return fmt::format("overrun: the interrupt driver could not hand over the {} samples waiting (its buffer "
                       "filled and samples after sample {} were lost, or the request failed); stopped",
                       want, fetched_);
  }
  CheckDremor(status, "fetching samples");
  sink_.Add(words_.data(), words_.size());
  fetched_ += want;
  return {};
}

constexpr double kAssumedSlowestClockHz = 1e6;

StallWatch::StallWatch(uint32_t divisor, std::optional<double> clockHz, Clock::time_point start)
    : seconds_(2.0 + 3.0 * divisor / clockHz.value_or(kAssumedSlowestClockHz)),
      clockKnown_(clockHz.has_value()),
      lastArrival_(start) {}

void StallWatch::Saw(uint32_t count, Clock::time_point now) {
  if (count == lastCount_) return;
  lastCount_ = count;
  lastArrival_ = now;
}

std::string StallWatch::Stalled(Clock::time_point now) const {
  if (std::chrono::duration<double>(now - lastArrival_).count() <= seconds_) return {};
  return fmt::format("the acquisition stalled: no sample arrived for {:.1f} s{}", seconds_,
                     clockKnown_ ? "" : " (if the counter clock is slow, give --clock)");
}

}  // namespace daqctl
