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
  if (status != KORVEL_OK) throw Failure(kExitFailure, KorvelStatusText(status));
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

void ListRelayBoards() {
  KorvelSession session;
  fmt::print("Relay boards (Korvel): {}\n", session.count());
  if (session.count() > 0) fmt::print("  #  model    slot    base0  base1  base2  base3  base4  base5\n");
  for (uint16_t n = 0; n < session.count(); ++n) {
    const RelayBoardInfo info = session.Query(n);
    fmt::print("  {:<2} {:<8} {:<7}", n, ModelName(info.kind), BoardSlot(Family::kRelay, n));
    for (uint16_t w : info.base) fmt::print(" {:#06x}", w);
    fmt::print("\n");
  }
}

}  // namespace daqctl
