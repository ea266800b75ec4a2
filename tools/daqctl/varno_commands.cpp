// list (multifunction part), dio, timer, ai and acquire: the multifunction
// boards through Dremor.
#include <fmt/format.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "daqctl.h"
#include "dremor.h"

namespace daqctl {
namespace {

// Configuration codes with an input range, and their full scale in volts.
struct RangeRow {
  unsigned code;
  double volts;
};
constexpr RangeRow kRanges[] = {{0, 10.0}, {1, 5.0},  {2, 2.5},  {3, 1.25},
                                {16, 10.0}, {17, 1.0}, {18, 0.1}, {19, 0.01}};

// The channels the tool accepts: the board's multiplexer has 16 inputs.
constexpr unsigned kChannels = 16;
// The most samples one background acquisition takes.
constexpr uint32_t kMaxBackgroundSamples = 1000000;

// Opens both drivers, scans and (optionally) selects a board; closes on every
// path out of a command.
class VarnoSession {
 public:
  VarnoSession() {
    unsigned short count = 0;
    const uint16_t status = VARNO_DriverInit(&count);
    if (status != DREMOR_OK && status != DREMOR_ERR_NO_BOARD) {
      VARNO_DriverClose();
      throw Failure(kExitFailure, DremorStatusText(status));
    }
    count_ = status == DREMOR_OK ? count : 0;
  }
  ~VarnoSession() { VARNO_DriverClose(); }
  VarnoSession(const VarnoSession&) = delete;
  VarnoSession& operator=(const VarnoSession&) = delete;

  uint16_t count() const { return count_; }

  // Makes `board` active; every operation of the board needs it first.
  void Select(unsigned board) {
    if (board >= count_) {
      throw Failure(kExitFailure,
                    fmt::format("there is no multifunction board {} (boards found: {})", board, count_));
    }
    const uint16_t status = VARNO_ActiveBoard(uint16_t(board));
    if (status != DREMOR_OK) throw Failure(kExitFailure, fmt::format("board {}: {}", board, DremorStatusText(status)));
  }

 private:
  uint16_t count_ = 0;
};

// 4000000 -> "4 MHz", 1000 -> "1 kHz", 61.035 -> "61.035 Hz".
std::string Hertz(double hz) {
  if (hz >= 1e6) return fmt::format("{:g} MHz", hz / 1e6);
  if (hz >= 1e3) return fmt::format("{:g} kHz", hz / 1e3);
  return fmt::format("{:g} Hz", hz);
}

void Check(uint16_t status, const char* what) {
  if (status != DREMOR_OK) throw Failure(kExitFailure, fmt::format("{}: {}", what, DremorStatusText(status)));
}

}  // namespace

void CheckRangeCode(unsigned code) {
  for (const RangeRow& r : kRanges) {
    if (r.code == code) return;
  }
  throw Failure(kExitUsage, fmt::format("unknown range code {}: use 0 (+-10 V), 1 (+-5 V), 2 (+-2.5 V), "
                                        "3 (+-1.25 V), 16 (+-10 V), 17 (+-1 V), 18 (+-0.1 V) or 19 (+-0.01 V)",
                                        code));
}

double RangeVolts(unsigned code) {
  for (const RangeRow& r : kRanges) {
    if (r.code == code) return r.volts;
  }
  return 10.0;
}

void CheckChannel(unsigned channel) {
  if (channel >= kChannels) {
    throw Failure(kExitUsage, fmt::format("channel {} does not exist: the board has channels 0 to {}", channel,
                                          kChannels - 1));
  }
}

void ListMultifunctionBoards() {
  // The interrupt driver is installed per board present: without one there
  // is no multifunction board to list, which is no failure of `list`.
  unsigned short probe = 0;
  const uint16_t status = VARNO_DriverInit(&probe);
  VARNO_DriverClose();
  if (status == DREMOR_ERR_NO_INTERRUPT_DEVICE) {
    fmt::print("Multifunction boards (Dremor): 0 (no interrupt driver \\\\.\\VARNO0 installed)\n");
    return;
  }
  VarnoSession session;
  fmt::print("Multifunction boards (Dremor): {}\n", session.count());
  if (session.count() > 0) fmt::print("  #  model    slot    io     dio    ad     irq\n");
  for (uint16_t n = 0; n < session.count(); ++n) {
    unsigned short io = 0, dio = 0, ad = 0, irq = 0;
    Check(VARNO_GetConfigAddressSpace(n, &io, &dio, &ad), "reading the board table");
    // The interrupt line is reported for the active board only.
    const uint16_t selected = VARNO_ActiveBoard(n);
    std::string irqText = "-";
    if (selected == DREMOR_OK || selected == DREMOR_ERR_NO_INTERRUPT_DEVICE) {
      VARNO_GetIrqNo(&irq);
      irqText = fmt::format("{}", irq);
    }
    fmt::print("  {:<2} {:<8} {:<7} {:#06x} {:#06x} {:#06x} {}\n", n, "VARNO", BoardSlot(Family::kMultifunction, n),
               io, dio, ad, irqText);
  }
}

int RunList() {
  ListRelayBoards();
  ListMultifunctionBoards();
  return kExitOk;
}

int RunDio(const DioArgs& args) {
  if (args.set && *args.set > 0xFFFF) throw Failure(kExitUsage, "--set takes a 16-bit pattern");
  VarnoSession session;
  session.Select(args.board);
  if (args.set) {
    VARNO_Do(uint16_t(*args.set));
    fmt::print("board {}: digital outputs {:#06x}\n", args.board, *args.set);
  }
  unsigned short inputs = 0;
  Check(VARNO_Di(&inputs), "reading the digital inputs");
  fmt::print("board {}: digital inputs  {:#06x}  ({:016b})\n", args.board, inputs, inputs);
  return kExitOk;
}

int RunTimer(const TimerArgs& args) {
  if (args.counter > 2) throw Failure(kExitUsage, "--counter must be 0, 1 or 2");
  if (args.divisor > 0xFFFF) throw Failure(kExitUsage, "--divisor must be 0 to 65535 (0 counts 65536)");
  VarnoSession session;
  session.Select(args.board);
  VARNO_SetupTimer(args.counter, args.divisor);
  const std::optional<double> clock = CounterClockHz(args.board);
  const double period = args.divisor == 0 ? 65536.0 : double(args.divisor);
  fmt::print("board {}: counter {} runs as a rate generator dividing by {}", args.board, args.counter,
             uint32_t(period));
  if (clock) fmt::print(" ({} from the {} counter clock)", Hertz(*clock / period), Hertz(*clock));
  fmt::print("\n");
  if (args.counter == 0) fmt::print("note: counter 0 is the A/D pacer; acquisitions reprogram it\n");
  return kExitOk;
}

int RunAi(const AiArgs& args) {
  CheckChannel(args.channel);
  CheckRangeCode(args.range);
  if (args.count == 0 || args.count > 65535) throw Failure(kExitUsage, "--count must be 1 to 65535");
  VarnoSession session;
  session.Select(args.board);
  Check(VARNO_SetChannelConfig(args.channel, args.range), "configuring the channel");
  for (unsigned i = 0; i < args.count; ++i) {
    if (args.raw) {
      unsigned short code = 0;
      Check(VARNO_Polling(&code), "conversion");
      fmt::print("{}\n", code);
    } else {
      float volts = 0;
      Check(VARNO_AdPolling(&volts), "conversion");
      fmt::print("{:.6f}\n", volts);
    }
  }
  return kExitOk;
}

namespace {

Series AcquirePacer(const AcquireArgs& args) {
  Series s;
  if (args.raw) {
    s.codes.assign(args.count, 0);
    Check(VARNO_AdsPacerHex(s.codes.data(), uint16_t(args.count), uint16_t(args.divisor)), "pacer-clocked block");
    for (uint16_t c : s.codes) s.volts.push_back((double(c & 0x0FFF) - 2048.0) / 2048.0 * RangeVolts(args.range));
  } else {
    std::vector<float> v(args.count);
    Check(VARNO_AdsPacer(v.data(), uint16_t(args.count), uint16_t(args.divisor)), "pacer-clocked block");
    s.volts.assign(v.begin(), v.end());
  }
  return s;
}

}  // namespace

int RunAcquire(const AcquireArgs& args) {
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

  VarnoSession session;
  session.Select(args.board);
  Check(VARNO_SetChannelConfig(args.channel, args.range), "configuring the channel");
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

}  // namespace daqctl
