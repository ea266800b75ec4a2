// The relay boards through Korvel.
#include "relay_boards.h"

#include <fmt/format.h>

#include "daqctl.h"

namespace daqctl {

KorvelSession::KorvelSession() {
  unsigned short count = 0;
  const uint16_t status = PCI_DriverInit(&count);
  // No board: the driver is held all the same, and closed by the destructor.
  if (status == KORVEL_ERR_NO_BOARD) return;
  // Any other failure leaves nothing open.
  if (status != KORVEL_OK) throw Failure(kExitFailure, KorvelOpenFailureText(status));
  count_ = count;
}

RelayBoardInfo KorvelSession::Query(uint16_t n) const {
  RelayBoardInfo info;
  auto& b = info.base;
  const uint16_t status = PCI_GetConfigAddressSpace(n, &info.kind, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
  if (status != KORVEL_OK) throw Failure(kExitFailure, fmt::format("board {}: {}", n, KorvelStatusText(status)));
  return info;
}

const char* ModelName(uint16_t kind) {
  return kind == RELAY_KIND_KORVEL ? "KORVEL" : kind == RELAY_KIND_LUMAR ? "LUMAR" : "unknown";
}

unsigned RelayCount(uint16_t kind) { return kind == RELAY_KIND_KORVEL ? 16 : 8; }

uint16_t RelayOutputOffset(uint16_t kind) {
  return kind == RELAY_KIND_KORVEL ? KORVEL_OUTPUT_OFFSET : LUMAR_OUTPUT_OFFSET;
}

uint16_t RelayInputOffset(uint16_t kind) { return kind == RELAY_KIND_KORVEL ? KORVEL_INPUT_OFFSET : LUMAR_INPUT_OFFSET; }

void WriteRelayPort(uint16_t kind, uint16_t port, uint32_t pattern) {
  if (kind == RELAY_KIND_KORVEL) {
    KORVEL_DO(port, uint16_t(pattern));
  } else {
    LUMAR_DO(port, uint8_t(pattern));
  }
}

uint16_t ReadRelayPort(uint16_t kind, uint16_t port) {
  return kind == RELAY_KIND_KORVEL ? KORVEL_DI(port) : LUMAR_DI(port);
}

void CheckRelayPattern(const RelayBoardInfo& info, unsigned board, uint32_t pattern) {
  const uint32_t mask = info.kind == RELAY_KIND_KORVEL ? 0xFFFF : 0xFF;
  if (pattern > mask) {
    throw Failure(kExitUsage, fmt::format("{} board {} has {} relays: pattern {:#x} does not fit", ModelName(info.kind),
                                          board, RelayCount(info.kind), pattern));
  }
}

std::string ListRelayBoards(bool verbose) {
  KorvelSession session;
  std::string text = fmt::format("Relay boards (Korvel): {}\n", session.count());
  if (session.count() > 0) text += "  #  model    slot    base0  base1  base2  base3  base4  base5\n";
  for (uint16_t n = 0; n < session.count(); ++n) {
    const RelayBoardInfo info = session.Query(n);
    text += fmt::format("  {:<2} {:<8} {:<7}", n, ModelName(info.kind), BoardSlot(Family::kRelay, n));
    for (uint16_t w : info.base) text += fmt::format(" {:#06x}", w);
    text += "\n";
    if (verbose) {
      const uint16_t block = info.base[RELAY_BOARD_BLOCK_BAR];
      text += fmt::format("     {} relays, {} inputs; board block (base{}) {:#06x}-{:#06x}: outputs at {:#06x}, "
                          "inputs at {:#06x}\n",
                          RelayCount(info.kind), RelayCount(info.kind), RELAY_BOARD_BLOCK_BAR, block,
                          block + RELAY_BOARD_BLOCK_SIZE - 1,
                          block + RelayOutputOffset(info.kind), block + RelayInputOffset(info.kind));
    }
  }
  return text;
}

}  // namespace daqctl
