// acquire --mode background: the interrupt driver samples while this program
// fetches what has arrived, writes it out and waits again, in memory that
// does not grow with the acquisition, until the count, the duration or a
// stop request is reached.
#include <fmt/format.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "acquire.h"
#include "background_fetch.h"
#include "stop_request.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

using Clock = std::chrono::steady_clock;

// How often the driver is asked for what has arrived. At the fastest rate
// (125 kHz) a poll finds some 2500 samples, far below the driver's capacity,
// and the end of an acquisition is seen within this time.
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Stops the acquisition on every way out of the command.
struct RunningAcquisition {
  ~RunningAcquisition() {
    if (running) VARNO_INT_AdStop();
  }
  void Stop() {
    running = false;
    CheckDremor(VARNO_INT_AdStop(), "stopping the acquisition");
  }
  bool running = false;
};

void PrintProgress(const AcquireArgs& args, const BackgroundFetcher& f, double elapsed) {
  std::string line = fmt::format("\r  {} samples", f.fetched());
  if (args.count != 0) line += fmt::format(" of {} ({:.0f}%)", args.count, 100.0 * double(f.fetched()) / args.count);
  // The rate measured so far, to a tenth of a kHz.
  const double rate = elapsed > 0 ? double(f.fetched()) / elapsed : 0;
  line += fmt::format(", {:.1f} kHz, {:.1f} s, backlog {}", rate / 1e3, elapsed, f.backlog());
  fmt::print(stderr, "{:<78}", line);
  std::fflush(stderr);
}

}  // namespace

AcquisitionEnd AcquireBackground(const AcquireArgs& args, std::optional<double> clockHz, Recording& recording) {
  KeepTimeRunning();
  uint32_t userValue = 0;
  CheckDremor(VARNO_InstallIrq(&userValue, 0), "installing the interrupt");
  RunningAcquisition acquisition;
  CheckDremor(VARNO_INT_AdStart(uint8_t(args.channel), uint16_t(args.range), uint16_t(args.divisor)),
              "starting the acquisition");
  acquisition.running = true;

  const bool showProgress = ShowProgress(args);
  const Clock::time_point start = Clock::now();
  Clock::time_point lastProgress = start;
  StallWatch stall(args.divisor, clockHz, start);
  BackgroundFetcher fetcher(args.count, recording);
  AcquisitionEnd end;
  while (!fetcher.done()) {
    if ((end.signal = StopRequests::Pending()) != 0) break;
    end.error = fetcher.Poll();
    if (!end.error.empty()) break;
    const Clock::time_point now = Clock::now();
    stall.Saw(fetcher.count(), now);
    if (showProgress && (now - lastProgress >= kProgressInterval || fetcher.done())) {
      PrintProgress(args, fetcher, SecondsSince(start));
      lastProgress = now;
    }
    if (fetcher.done()) break;
    if (!(end.error = stall.Stalled()).empty()) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  if (showProgress) fmt::print(stderr, "\n");
  acquisition.Stop();
  // Stopped by a request: what the driver took before the stop is fetched too.
  if (end.signal != 0 && !fetcher.done()) {
    try {
      end.error = fetcher.Poll();
    } catch (const Failure& f) {
      end.error = f.what();
    }
  }
  return end;
}

}  // namespace daqctl
