// acquire: a pacer-clocked block or a background acquisition, written as CSV
// or JSON as the samples arrive, optionally drawn as a picture.
#include "acquire.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define DAQCTL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define DAQCTL_ISATTY(fd) isatty(fd)
#endif

#include "command.h"
#include "daqctl.h"
#include "stop_request.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

// A pacer block holds at most this many samples (the library's count is 16 bits).
constexpr uint64_t kMaxPacerSamples = 65535;
// A pacer block longer than this is announced with its expected duration.
constexpr double kAnnounceSeconds = 1.0;

// Whether two paths name the same file: the same file on disk (links and
// different spellings included), or, for files still to be made, the same
// path once resolved.
bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ea, eb;
  if (fs::equivalent(a, b, ea)) return true;
  const fs::path ca = fs::weakly_canonical(a, ea), cb = fs::weakly_canonical(b, eb);
  return !ea && !eb ? ca == cb : fs::path(a).lexically_normal() == fs::path(b).lexically_normal();
}

// "divisor 1000 of the 4 MHz counter clock: 4 kHz"
std::string RateText(uint32_t divisor, std::optional<double> clockHz) {
  if (!clockHz) return fmt::format("divisor {} of the counter clock (rate unknown: give --clock)", divisor);
  return fmt::format("{} (divisor {} of the {} counter clock)", Hertz(*clockHz / divisor), divisor, Hertz(*clockHz));
}

// The message for a pacer block that timed out, with the causes that fit
// what is known about the rate.
std::string PacerTimeoutText(const AcquireArgs& args, std::optional<double> clockHz) {
  std::string text = "the pacer-clocked block timed out: no conversion finished in time";
  if (!clockHz) {
    return text + fmt::format("; the divisor may be too small for the converter (8 us per conversion; the "
                              "smallest divisor is the counter clock x 9 us: give --clock to have it checked), "
                              "or the pacer is not running (is the board's counter clock running?)");
  }
  text += "; the pacer is not running (is the board's counter clock running?)";
  const double period = args.divisor / *clockHz;
  // The library waits for one conversion tens of milliseconds (about 65,000
  // status reads).
  if (period > 0.02) {
    text += fmt::format(", or its period of {} is longer than the library waits for one conversion: use a "
                        "smaller divisor",
                        Seconds(period));
  }
  return text;
}

// A block of the board's words from the library: words it did not write keep
// this value, which no 12-bit code has.
constexpr uint16_t kUnwritten = 0xFFFF;

AcquisitionEnd AcquirePacer(const AcquireArgs& args, std::optional<double> clockHz, Recording& recording) {
  AcquisitionEnd end;
  // Asked to stop while the board was being prepared: no block at all.
  if ((end.signal = StopRequests::Pending()) != 0) return end;
  if (args.progress) {
    if (clockHz && args.count * args.divisor / *clockHz >= kAnnounceSeconds) {
      fmt::print(stderr, "acquiring {} samples at {}: about {} (a pacer block runs to its end)\n", args.count,
                 Hertz(*clockHz / args.divisor), Seconds(args.count * args.divisor / *clockHz));
    } else if (!clockHz && args.count >= 10000) {
      fmt::print(stderr, "acquiring {} samples, divisor {} (give --clock to know how long it takes)\n", args.count,
                 args.divisor);
    }
  }
  std::vector<uint16_t> words(args.count, kUnwritten);
  const uint16_t status = VARNO_AdsPacerHex(words.data(), uint16_t(args.count), uint16_t(args.divisor));
  if (status == DREMOR_ERR_AD_TIMEOUT) {
    // The samples before the failing one are kept.
    size_t kept = 0;
    while (kept < words.size() && words[kept] != kUnwritten) ++kept;
    recording.Add(words.data(), kept);
    end.error = PacerTimeoutText(args, clockHz);
    return end;
  }
  CheckDremor(status, "pacer-clocked block");
  recording.Add(words.data(), words.size());
  // A stop asked for during the block: the block is complete, but the
  // request is reported all the same.
  end.signal = StopRequests::Pending();
  return end;
}

struct Acquire final : Handler {
  AcquireArgs args;
  NumberOption divisorText, countText;
  std::string modeText = "pacer";
  std::string format = "csv";
  std::string output, plot;
  std::string durationText, clockText;
  bool continuous = false;

  void Check() override {
    args.divisor = divisorText.Get().value_or(args.divisor);
    CheckChannel(args.channel);
    CheckRangeCode(args.range);
    CheckPacerDivisor(args.divisor, "--divisor");
    if (modeText != "pacer" && modeText != "background") {
      throw Failure(kExitUsage, "--mode must be pacer or background");
    }
    args.mode = modeText == "pacer" ? AcquireMode::kPacer : AcquireMode::kBackground;
    if (format != "csv" && format != "json") throw Failure(kExitUsage, "--format must be csv or json");
    if (int(countText.given()) + int(!durationText.empty()) + int(continuous) > 1) {
      throw Failure(kExitUsage, "give one of --count, --duration and --continuous");
    }
    if (countText.given()) {
      args.count = *countText.Get();
      if (args.mode == AcquireMode::kPacer && (args.count == 0 || args.count > kMaxPacerSamples)) {
        throw Failure(kExitUsage, fmt::format("--count must be 1 to {} in pacer mode", kMaxPacerSamples));
      }
      if (args.count == 0) throw Failure(kExitUsage, "--count must be 1 or more");
    }
    if (!durationText.empty()) {
      args.duration = ParseDecimal(durationText);
      if (!args.duration || *args.duration <= 0) {
        throw Failure(kExitUsage, fmt::format("--duration: not a positive number of seconds: '{}'", durationText));
      }
    }
    if (continuous) {
      if (args.mode == AcquireMode::kPacer) {
        throw Failure(kExitUsage, "--continuous needs --mode background (a pacer block has a size)");
      }
      args.count = 0;
    }
    if (!clockText.empty()) {
      args.clockHz = ParseCounterClock(clockText, "--clock");
      CheckRate(*args.clockHz);
    }
    if (!output.empty() && !plot.empty() && SameFile(output, plot)) {
      throw Failure(kExitUsage, fmt::format("--output and --plot name the same file ({}): the picture would "
                                            "overwrite the samples",
                                            plot));
    }
  }

  // Refuses a divisor the converter cannot follow at `clockHz`, and turns a
  // duration into a count of samples.
  void CheckRate(double clockHz) {
    CheckConverterRate(args.mode, args.divisor, clockHz, "--divisor");
    if (args.duration) {
      const double samples = std::round(*args.duration * clockHz / args.divisor);
      const double most = args.mode == AcquireMode::kPacer ? double(kMaxPacerSamples) : double(UINT32_MAX);
      if (samples < 1 || samples > most) {
        throw Failure(kExitUsage, fmt::format("--duration {} s is {:.0f} samples at {}: {} mode takes 1 to {:.0f}",
                                              *args.duration, samples, Hertz(clockHz / args.divisor),
                                              args.mode == AcquireMode::kPacer ? "pacer" : "background", most));
      }
      args.count = uint64_t(samples);
    }
  }

  int Run() override {
    // The rate, before any library call: the machine may know the clock.
    std::optional<double> clock = args.clockHz;
    const std::optional<double> machineClock = CounterClockHz(args.board);
    if (!clock) {
      clock = machineClock;
      if (clock) CheckRate(*clock);
    } else if (machineClock && *machineClock != *clock) {
      fmt::print(stderr, "daqctl: note: --clock {} differs from the board's counter clock ({}); using --clock\n",
                 Hertz(*clock), Hertz(*machineClock));
    }
    if (args.duration && !clock) {
      throw Failure(kExitUsage, "--duration needs the counter clock, which this machine cannot tell: give --clock");
    }
    StopRequests stopRequests;
    VarnoSession session;
    session.Select(args.board);
    CheckDremor(VARNO_SetChannelConfig(uint8_t(args.channel), uint16_t(args.range)), "configuring the channel");
    // The files once the board is ready (a board that cannot be used leaves
    // an existing file as it was), before the acquisition starts.
    std::unique_ptr<OutputFile> file = OutputFile::Open(output);
    std::unique_ptr<OutputFile> plotFile = plot.empty() ? nullptr : OutputFile::Open(plot);

    RecordingInfo info = DescribeRecording(args.board, args.channel, args.range, modeText, args.divisor, clock);
    info.codes = args.raw;
    std::unique_ptr<SampleWriter> writer =
        format == "csv" ? MakeCsvWriter(std::move(file), info) : MakeJsonWriter(std::move(file), info);
    WaveformPlot picture;
    Recording recording{*writer, plotFile ? &picture : nullptr, info.rangeVolts};

    // A failure of the board or a driver ends the acquisition, not the file:
    // what was recorded is kept and the document completed.
    AcquisitionEnd end;
    try {
      end = args.mode == AcquireMode::kPacer ? AcquirePacer(args, clock, recording)
                                             : AcquireBackground(args, clock, recording);
    } catch (const Failure& f) {
      end.error = f.what();
    }
    const std::string ending = end.signal    ? fmt::format("interrupted by {}", StopRequests::Name(end.signal))
                               : !end.error.empty() ? "failed: " + end.error
                                                    : "complete";
    writer->Finish(ending);
    const std::string saved = fmt::format("{} samples saved to {}", writer->samples(), writer->fileName());
    if (plotFile) {
      const std::string title = fmt::format("board {}, channel {}, +-{} V, {} samples, {}", args.board, args.channel,
                                            info.rangeVolts, writer->samples(), RateText(args.divisor, clock));
      plotFile->Write(picture.Render(title, info.rangeVolts, info.SamplePeriod()));
      plotFile->Close();
    }
    if (writer->overRange() > 0) {
      fmt::print(stderr, "daqctl: {} of {} samples lie at an end of the range (over range): flagged in {}\n",
                 writer->overRange(), writer->samples(), writer->fileName());
    }
    if (end.signal) {
      fmt::print(stderr, "daqctl: interrupted by {}: the acquisition was stopped; {}\n",
                 StopRequests::Name(end.signal), saved);
      return 128 + end.signal;
    }
    if (!end.error.empty()) throw Failure(kExitFailure, fmt::format("{}; {}", end.error, saved));
    if (!output.empty()) {
      fmt::print(stderr, "wrote {} samples to {} at {}\n", writer->samples(), output, RateText(args.divisor, clock));
    }
    if (plotFile) fmt::print(stderr, "drew the waveform to {}\n", plot);
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto acquire = std::make_unique<Acquire>();
  AcquireArgs& a = acquire->args;
  AddBoardOption(app, a.board);
  AddChannelOption(app, a.channel);
  AddRangeOption(app, a.range, "range code (see `ai`)");
  acquire->divisorText.Add(app, "--divisor,-d",
                           "pacer divisor: sample rate = counter clock / divisor (1000); refused when the "
                           "converter cannot follow it at a known clock");
  acquire->countText.Add(app, "--count,-n", "number of samples (1000; pacer mode at most 65535)");
  app.add_option("--duration", acquire->durationText,
                 "seconds to acquire instead of --count (needs a known counter clock)");
  app.add_flag("--continuous", acquire->continuous,
               "background mode: acquire until Ctrl-C or SIGTERM instead of --count samples");
  app.add_option("--mode", acquire->modeText,
                 "pacer: a block polled by this program; background: sampled under interrupt by the "
                 "driver while this program writes them out, with a progress line")
      ->capture_default_str();
  app.add_flag("!--no-progress", a.progress, "no progress line");
  app.add_option("--format", acquire->format, "csv or json")->capture_default_str();
  app.add_option("--output,-o", acquire->output, "write the samples to FILE instead of standard output");
  app.add_option("--plot", acquire->plot, "draw the waveform as an SVG picture to FILE");
  app.add_option("--clock", acquire->clockText,
                 "the board's counter clock in Hz (the bench knows its own): the time axis, and the check "
                 "of the divisor");
  app.add_flag("--raw", a.raw, "write the 12-bit codes too");
  return acquire;
}

}  // namespace

bool ShowProgress(const AcquireArgs& args) { return args.progress && DAQCTL_ISATTY(2); }

extern const Command kAcquire{"acquire",
                              "a pacer-clocked block or a background acquisition, as CSV or JSON, written as the "
                              "samples arrive",
                              Define, false};

}  // namespace daqctl
