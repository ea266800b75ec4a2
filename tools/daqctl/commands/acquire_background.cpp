// acquire --mode background: the interrupt driver samples while this program
// waits; the samples are fetched as they arrive, with a progress line when
// standard error is a terminal.
#include <fmt/format.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define DAQCTL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define DAQCTL_ISATTY(fd) isatty(fd)
#endif

#include "acquire.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

// Stops the acquisition on every way out of the command.
struct RunningAcquisition {
  ~RunningAcquisition() {
    if (running) VARNO_INT_AdStop();
  }
  bool running = false;
};

}  // namespace

Series AcquireBackground(const AcquireArgs& args, std::optional<double> clockHz) {
  KeepTimeRunning();
  uint32_t userValue = 0;
  CheckDremor(VARNO_InstallIrq(&userValue, 0), "installing the interrupt");
  RunningAcquisition acquisition;
  CheckDremor(VARNO_INT_AdStart(uint8_t(args.channel), uint16_t(args.range), uint16_t(args.divisor)),
        "starting the acquisition");
  acquisition.running = true;

  // Give up when the samples stop coming: twice the expected duration, and
  // at least two seconds, without the count reaching what was asked for.
  const double expected = clockHz ? double(args.count) * args.divisor / *clockHz : 10.0;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(int64_t(2000 + 2000 * expected));
  const bool showProgress = args.progress && DAQCTL_ISATTY(2);

  Series s;
  s.volts.reserve(args.count);
  if (args.raw) s.codes.reserve(args.count);
  uint32_t fetched = 0;
  while (fetched < args.count) {
    uint32_t interrupts = 0;
    CheckDremor(VARNO_GetIntCount(&interrupts), "reading the interrupt count");
    const uint32_t ready = std::min(interrupts - fetched, args.count - fetched);
    if (ready > 0) {
      if (args.raw) {
        std::vector<uint16_t> words(ready);
        CheckDremor(VARNO_GetBuffer(ready, words.data()), "fetching samples");
        AppendRawSamples(s, words.data(), words.size(), args.range);
      } else {
        std::vector<float> volts(ready);
        CheckDremor(VARNO_GetFloatBuffer(ready, volts.data()), "fetching samples");
        s.volts.insert(s.volts.end(), volts.begin(), volts.end());
      }
      fetched += ready;
    }
    if (showProgress) {
      fmt::print(stderr, "\r  acquired {} of {} samples ({:.0f}%)", fetched, args.count,
                 100.0 * fetched / args.count);
      std::fflush(stderr);
    }
    if (fetched >= args.count) break;
    if (std::chrono::steady_clock::now() > deadline) {
      throw Failure(kExitFailure, fmt::format("the acquisition stalled: {} of {} samples arrived", fetched,
                                              args.count));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (showProgress) fmt::print(stderr, "\n");
  acquisition.running = false;
  CheckDremor(VARNO_INT_AdStop(), "stopping the acquisition");
  return s;
}

}  // namespace daqctl
