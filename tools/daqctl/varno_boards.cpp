// The multifunction boards through Dremor.
#include "varno_boards.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <iterator>

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

VarnoSession::VarnoSession() {
  unsigned short count = 0;
  const uint16_t status = VARNO_DriverInit(&count);
  if (status != DREMOR_OK && status != DREMOR_ERR_NO_BOARD) {
    VARNO_DriverClose();
    throw Failure(kExitFailure, DremorStatusText(status));
  }
  count_ = status == DREMOR_OK ? count : 0;
}

void VarnoSession::Select(unsigned board) {
  if (board >= count_) {
    throw Failure(kExitFailure, fmt::format("there is no multifunction board {} (boards found: {})", board, count_));
  }
  const uint16_t status = VARNO_ActiveBoard(uint16_t(board));
  if (status != DREMOR_OK) throw Failure(kExitFailure, fmt::format("board {}: {}", board, DremorStatusText(status)));
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

float RangeVolts(unsigned code) { return FindRange(code)->volts; }

std::string RangeList() {
  // The unit after the first entry only: "<code> +-<full scale> V, <code> +-<full scale>, ...".
  std::string list;
  for (size_t i = 0; i < std::size(kRanges); ++i) {
    list += fmt::format("{}{} +-{}{}", i == 0 ? "" : ", ", kRanges[i].code, kRanges[i].volts, i == 0 ? " V" : "");
  }
  return list;
}

float CodeToVolts(uint16_t word, float fullScale) {
  // (code - mid-scale) has at most 12 significant bits and the step is a
  // power of two: the products are exact in double precision, so the
  // conversion to float is the one rounding.
  const double code = double(word & VARNO_AD_CODE_MASK);
  return float((code - VARNO_AD_MID_SCALE) * double(VARNO_AD_STEP) * double(fullScale));
}

void AddBoardOption(CLI::App& app, unsigned& board) {
  app.add_option("--board,-b", board, "multifunction board number")->capture_default_str();
}

void AddChannelOption(CLI::App& app, unsigned& channel) {
  app.add_option("--channel,-c", channel, fmt::format("input channel 0-{}", VARNO_CHANNELS - 1))
      ->capture_default_str();
}

void AddRangeOption(CLI::App& app, unsigned& range, const std::string& help) {
  app.add_option("--range,-r", range, help)->capture_default_str();
}

void ListMultifunctionBoards() {
  // The interrupt driver is installed per board present: without one there
  // is no multifunction board to list, which is no failure of `list`.
  unsigned short probe = 0;
  const uint16_t status = VARNO_DriverInit(&probe);
  VARNO_DriverClose();
  if (status == DREMOR_ERR_NO_INTERRUPT_DEVICE) {
    fmt::print("Multifunction boards (Dremor): 0 (no interrupt driver {}0 installed)\n", VARNO_DEVICE_PREFIX);
    return;
  }
  VarnoSession session;
  fmt::print("Multifunction boards (Dremor): {}\n", session.count());
  if (session.count() > 0) fmt::print("  #  model    slot    io     dio    ad     irq\n");
  for (uint16_t n = 0; n < session.count(); ++n) {
    unsigned short io = 0, dio = 0, ad = 0, irq = 0;
    CheckDremor(VARNO_GetConfigAddressSpace(n, &io, &dio, &ad), "reading the board table");
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

}  // namespace daqctl
