// The fetch of a background acquisition: the interrupt driver's count read,
// everything waiting taken in one request and handed to a sink, overruns
// told apart from a stream with a gap. One implementation for `acquire
// --mode background` and the panel.
#ifndef DAQCTL_BACKGROUND_FETCH_H
#define DAQCTL_BACKGROUND_FETCH_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace daqctl {

// The samples the interrupt driver holds until they are fetched. A backlog
// beyond it means samples were dropped: an overrun.
constexpr uint32_t kDriverCapacity = 1u << 20;

// Where fetched samples go, the board's 16-bit words in the order taken.
class SampleSink {
 public:
  virtual void Add(const uint16_t* words, size_t count) = 0;

 protected:
  ~SampleSink() = default;
};

class BackgroundFetcher {
 public:
  // `limit`: samples to fetch in all, 0 for no limit.
  BackgroundFetcher(uint64_t limit, SampleSink& sink) : limit_(limit), sink_(sink) {}

  uint64_t fetched() const { return fetched_; }
  uint32_t backlog() const { return backlog_; }
  uint32_t count() const { return count_; }
  bool done() const { return limit_ != 0 && fetched_ >= limit_; }

  // Asks the driver for its interrupt count and fetches what has arrived (up
  // to the limit). Returns an error text on an overrun; a failed request
  // throws Failure(kExitFailure).
  std::string Poll();

 private:
  uint64_t limit_;
  SampleSink& sink_;
  std::vector<uint16_t> words_;  // reused: as large as the largest backlog seen
  uint64_t fetched_ = 0;
  uint32_t backlog_ = 0;
  uint32_t count_ = 0;
};

// Whether samples stopped coming: no new interrupt for a few sample periods
// and at least two seconds. Without a known clock the counters are taken to
// run at 1 MHz at least (the 8254s of these boards run at MHz rates).
class StallWatch {
 public:
  using Clock = std::chrono::steady_clock;
  StallWatch(uint32_t divisor, std::optional<double> clockHz, Clock::time_point start = Clock::now());

  double seconds() const { return seconds_; }
  // The driver's interrupt count after a poll.
  void Saw(uint32_t count, Clock::time_point now = Clock::now());
  // The error text once nothing arrived for too long, else empty.
  std::string Stalled(Clock::time_point now = Clock::now()) const;

 private:
  double seconds_;
  bool clockKnown_;
  uint32_t lastCount_ = 0;
  Clock::time_point lastArrival_;
};

}  // namespace daqctl

#endif
