// acquire: a pacer-clocked or background acquisition of N samples, as CSV or
// JSON, optionally drawn as a picture.
#include "acquire.h"

#include <fmt/format.h>

#include <cstdio>
#include <vector>

#include "command.h"
#include "varno_boards.h"

namespace daqctl {
namespace {

// The most samples one background acquisition takes.
constexpr uint32_t kMaxBackgroundSamples = 1000000;

Series AcquirePacer(const AcquireArgs& args) {
  Series s;
  if (args.raw) {
    std::vector<uint16_t> words(args.count);
    CheckDremor(VARNO_AdsPacerHex(words.data(), uint16_t(args.count), uint16_t(args.divisor)),
                "pacer-clocked block");
    AppendRawSamples(s, words.data(), words.size(), args.range);
  } else {
    std::vector<float> v(args.count);
    CheckDremor(VARNO_AdsPacer(v.data(), uint16_t(args.count), uint16_t(args.divisor)), "pacer-clocked block");
    s.volts.assign(v.begin(), v.end());
  }
  return s;
}

struct Acquire final : Handler {
  AcquireArgs args;
  NumberOption divisorText, countText;

  void Check() override {
    args.divisor = divisorText.Get().value_or(args.divisor);
    args.count = countText.Get().value_or(args.count);
    CheckChannel(args.channel);
    CheckRangeCode(args.range);
    if (args.divisor == 0 || args.divisor > 0xFFFF) throw Failure(kExitUsage, "--divisor must be 1 to 65535");
    if (args.mode != "pacer" && args.mode != "background") {
      throw Failure(kExitUsage, "--mode must be pacer or background");
    }
    const uint32_t maxCount = args.mode == "pacer" ? 65535u : kMaxBackgroundSamples;
    if (args.count == 0 || args.count > maxCount) {
      throw Failure(kExitUsage, fmt::format("--count must be 1 to {} in {} mode", maxCount, args.mode));
    }
    if (args.format != "csv" && args.format != "json") throw Failure(kExitUsage, "--format must be csv or json");
  }

  int Run() override {
    VarnoSession session;
    session.Select(args.board);
    CheckDremor(VARNO_SetChannelConfig(uint8_t(args.channel), uint16_t(args.range)), "configuring the channel");
    const std::optional<double> clock = args.clockHz ? args.clockHz : CounterClockHz(args.board);
    Series s = args.mode == "pacer" ? AcquirePacer(args) : AcquireBackground(args, clock);
    if (clock && *clock > 0) s.sampleSeconds = double(args.divisor) / *clock;
    s.title = fmt::format("board {}, channel {}, +-{} V, {} samples, divisor {}", args.board, args.channel,
                          RangeVolts(args.range), s.volts.size(), args.divisor);

    const std::string text = args.format == "csv" ? FormatCsv(s) : FormatJson(s);
    if (args.output.empty()) {
      std::fwrite(text.data(), 1, text.size(), stdout);
    } else {
      WriteFile(args.output, text);
      fmt::print(stderr, "wrote {} samples to {}\n", s.volts.size(), args.output);
    }
    if (!args.plot.empty()) {
      WriteFile(args.plot, RenderSvg(s, RangeVolts(args.range)));
      fmt::print(stderr, "drew the waveform to {}\n", args.plot);
    }
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto acquire = std::make_unique<Acquire>();
  AcquireArgs& a = acquire->args;
  AddBoardOption(app, a.board);
  AddChannelOption(app, a.channel);
  AddRangeOption(app, a.range, "range code (see `ai`)");
  acquire->divisorText.Add(app, "--divisor,-d", "pacer divisor: sample rate = counter clock / divisor (1000)");
  acquire->countText.Add(app, "--count,-n", "number of samples (1000)");
  app.add_option("--mode", a.mode,
                 "pacer: a block polled by this program; background: sampled under interrupt by the "
                 "driver while this program waits, with a progress line")
      ->capture_default_str();
  app.add_flag("!--no-progress", a.progress, "no progress line");
  app.add_option("--format", a.format, "csv or json")->capture_default_str();
  app.add_option("--output,-o", a.output, "write the samples to FILE instead of standard output");
  app.add_option("--plot", a.plot, "draw the waveform as an SVG picture to FILE");
  app.add_option("--clock", a.clockHz, "the board's counter clock in Hz, for the time axis");
  app.add_flag("--raw", a.raw, "take raw 12-bit codes too");
  return acquire;
}

}  // namespace

void AppendRawSamples(Series& s, const uint16_t* words, size_t count, unsigned range) {
  const float fullScale = RangeVolts(range);
  for (size_t i = 0; i < count; ++i) {
    s.codes.push_back(words[i]);
    s.volts.push_back(CodeToVolts(words[i], fullScale));
  }
}

extern const Command kAcquire{"acquire", "a pacer-clocked or background acquisition of N samples, as CSV or JSON",
                              Define, false};

}  // namespace daqctl
