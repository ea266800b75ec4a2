// The multifunction boards through Dremor.
#include "varno_boards.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <iterator>

#include "acquisition_rate.h"
#include "command.h"
#include "daqctl.h"
#include "varno_ioctl.h"

namespace daqctl {
namespace {

// The configuration codes with an input range, and its full scale in volts.
struct RangeRow {
  unsigned code;
  float volts;
};
#define DAQCTL_RANGE_ROW(code, gainByte, fullScale, settling) {code, fullScale},
constexpr RangeRow kRanges[] = {VARNO_RANGE_TABLE(DAQCTL_RANGE_ROW)};
#undef DAQCTL_RANGE_ROW

const RangeRow* FindRange(unsigned code) {
  for (const RangeRow& r : kRanges) {
    if (r.code == code) return &r;
  }
  return nullptr;
}

}  // namespace

VarnoSession::VarnoSession() { Open(false); }
VarnoSession::VarnoSession(NoInterruptDeviceAllowed) { Open(true); }

void VarnoSession::Open(bool allowNoInterruptDevice) {
  unsigned short count = 0;
  // The library opens the interrupt device of the active board (0 until one
  // is selected).
  const unsigned device = VARNO_WhichBoardActive();
  status_ = VARNO_DriverInit(&count);
  if (status_ == DREMOR_ERR_NO_INTERRUPT_DEVICE && allowNoInterruptDevice) return;
  if (status_ != DREMOR_OK && status_ != DREMOR_ERR_NO_BOARD) {
    VARNO_DriverClose();
    throw Failure(kExitFailure, DremorOpenFailureText(status_, device));
  }
  count_ = status_ == DREMOR_OK ? count : 0;
}

void VarnoSession::Select(unsigned board) {
  if (board >= count_) {
    throw Failure(kExitFailure, fmt::format("there is no multifunction board {} (boards found: {})", board, count_));
  }
  const uint16_t status = VARNO_ActiveBoard(uint16_t(board));
  if (status != DREMOR_OK) {
    throw Failure(kExitFailure, fmt::format("board {}: {}", board, DremorOpenFailureText(status, board)));
  }
}

std::optional<uint16_t> VarnoSession::DriverVersion() {
  unsigned short version = 0;
  if (VARNO_GetDriverVersion(&version) != DREMOR_OK) return std::nullopt;
  return version;
}

void CheckDremor(uint16_t status, const char* what) {
  if (status != DREMOR_OK) throw Failure(kExitFailure, fmt::format("{}: {}", what, DremorStatusText(status)));
}

void CheckChannel(unsigned channel) {
  if (channel >= VARNO_CHANNELS) {
    throw Failure(kExitUsage, fmt::format("channel {} does not exist: the board has channels 0 to {}", channel,
                                          VARNO_CHANNELS - 1));
  }
}

void CheckRangeCode(unsigned code) {
  if (FindRange(code)) return;
  // "use <code> (+-<full scale> V), <code> (...), ... or <code> (...)"
  std::string codes;
  for (size_t i = 0; i < std::size(kRanges); ++i) {
    const char* separator = i == 0 ? "" : i + 1 < std::size(kRanges) ? ", " : " or ";
    codes += fmt::format("{}{} (+-{} V)", separator, kRanges[i].code, kRanges[i].volts);
  }
  throw Failure(kExitUsage, fmt::format("unknown range code {}: use {}", code, codes));
}

void CheckCounter(unsigned counter, const char* name) {
  if (counter >= VARNO_COUNTERS) throw Failure(kExitUsage, fmt::format("{} must be 0, 1 or 2", name));
}

void CheckTimerDivisor(uint32_t divisor, const char* name) {
  if (divisor > 0xFFFF) throw Failure(kExitUsage, fmt::format("{} must be 0 to 65535 (0 counts 65536)", name));
}

void CheckDigitalPattern(uint32_t pattern, const char* name) {
  if (pattern > 0xFFFF) throw Failure(kExitUsage, fmt::format("{} takes a 16-bit pattern", name));
}

void CheckPacerDivisor(uint32_t divisor, const char* name) {
  if (divisor == 0 || divisor > 0xFFFF) throw Failure(kExitUsage, fmt::format("{} must be 1 to 65535", name));
}

float RangeVolts(unsigned code) { return FindRange(code)->volts; }

RecordingInfo DescribeRecording(unsigned board, unsigned channel, unsigned rangeCode, const std::string& mode,
                                uint32_t divisor, std::optional<double> clockHz) {
  RecordingInfo info;
  info.tool = ToolName();
  info.board = board;
  info.slot = BoardSlot(Family::kMultifunction, board);
  info.channel = channel;
  info.rangeCode = rangeCode;
  info.rangeVolts = RangeVolts(rangeCode);
  info.mode = mode;
  info.divisor = divisor;
  info.clockHz = clockHz;
  info.startTime = UtcTimestamp();
  return info;
}

std::vector<InputRange> InputRanges() {
  std::vector<InputRange> ranges;
  for (const RangeRow& r : kRanges) ranges.push_back({r.code, r.volts});
  return ranges;
}

std::string RangeList() {
  // The unit after the first entry only: "<code> +-<full scale> V, <code> +-<full scale>, ...".
  std::string list;
  for (size_t i = 0; i < std::size(kRanges); ++i) {
    list += fmt::format("{}{} +-{}{}", i == 0 ? "" : ", ", kRanges[i].code, kRanges[i].volts, i == 0 ? " V" : "");
  }
  return list;
}

void AddBoardOption(CLI::App& app, unsigned& board) {
  AcceptNumbers(app.add_option("--board,-b", board, "multifunction board number")->capture_default_str());
}

void AddChannelOption(CLI::App& app, unsigned& channel) {
  AcceptNumbers(app.add_option("--channel,-c", channel, fmt::format("input channel 0-{}", VARNO_CHANNELS - 1))
                    ->capture_default_str());
}

void AddRangeOption(CLI::App& app, unsigned& range, const std::string& help) {
  AcceptNumbers(app.add_option("--range,-r", range, help)->capture_default_str());
}

namespace {

// What `list --verbose` tells of a selected board beyond its row.
std::string BoardDetails(unsigned board) {
  std::string text;
  const std::optional<uint16_t> driver = VarnoSession::DriverVersion();
  text += fmt::format("     interrupt driver: {}\n", driver ? VersionText(*driver) : "none answers");
  text += fmt::format("     analog inputs: {} channels, {} bits ({} codes), ranges {}\n", VARNO_CHANNELS, VARNO_AD_BITS,
                      VARNO_AD_MAX_CODE + 1, RangeList());
  const std::optional<double> clock = CounterClockHz(board);
  if (clock) {
    const uint32_t background = SmallestDivisor(AcquireMode::kBackground, *clock);
    const uint32_t pacer = SmallestDivisor(AcquireMode::kPacer, *clock);
    text += fmt::format("     fastest rate at the {} counter clock: {} in background mode (divisor {}), {} in "
                        "pacer mode (divisor {})\n",
                        Hertz(*clock), Hertz(*clock / background), background, Hertz(*clock / pacer), pacer);
  } else {
    text += fmt::format("     fastest rate: {} (one conversion per 8 us; the divisor that gives it depends on the "
                        "counter clock, which this machine cannot tell)\n",
                        Hertz(1 / kConversionSeconds));
  }
  text += fmt::format("     digital I/O: 16 outputs, 16 inputs; 8254 timer: {} counters (counter 0 paces the "
                      "A/D converter)\n",
                      VARNO_COUNTERS);
  return text;
}

}  // namespace

MultifunctionListing ListMultifunctionBoards(bool verbose) {
  MultifunctionListing listing;
  VarnoSession session(VarnoSession::NoInterruptDeviceAllowed{});
  listing.status = session.openStatus();
  if (listing.status == DREMOR_ERR_NO_INTERRUPT_DEVICE) {
    listing.text = fmt::format("Multifunction boards (Dremor): 0 ({})\n",
                               DremorOpenFailureText(listing.status, VARNO_WhichBoardActive()));
    return listing;
  }
  listing.driverVersion = VarnoSession::DriverVersion();
  std::string& text = listing.text;
  text = fmt::format("Multifunction boards (Dremor): {}\n", session.count());
  if (session.count() == 0) return listing;
  if (verbose) text += "  (each board is selected to read its interrupt line: selecting a board resets it)\n";
  text += verbose ? "  #  model    slot    io     dio    ad     irq\n" : "  #  model    slot    io     dio    ad\n";
  for (uint16_t n = 0; n < session.count(); ++n) {
    unsigned short io = 0, dio = 0, ad = 0;
    CheckDremor(VARNO_GetConfigAddressSpace(n, &io, &dio, &ad), "reading the board table");
    text += fmt::format("  {:<2} {:<8} {:<7} {:#06x} {:#06x} {:#06x}", n, "VARNO", BoardSlot(Family::kMultifunction, n),
                        io, dio, ad);
    if (!verbose) {
      text += "\n";
      continue;
    }
    // The interrupt line is reported for the active board only. A board
    // whose interrupt device cannot be opened is active all the same.
    const uint16_t selected = VARNO_ActiveBoard(n);
    unsigned short irq = 0;
    if (selected == DREMOR_OK || selected == DREMOR_ERR_NO_INTERRUPT_DEVICE) VARNO_GetIrqNo(&irq);
    text += selected == DREMOR_OK || selected == DREMOR_ERR_NO_INTERRUPT_DEVICE ? fmt::format(" {}\n", irq) : " -\n";
    text += BoardDetails(n);
  }
  return listing;
}

}  // namespace daqctl
