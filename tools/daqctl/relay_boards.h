// The relay boards through Korvel: the session a command opens, a board's
// model and base words, and the relay-board part of `list`.
#ifndef DAQCTL_RELAY_BOARDS_H
#define DAQCTL_RELAY_BOARDS_H

#include <array>
#include <cstdint>
#include <string>

#include "daqctl.h"
#include "korvel.h"

namespace daqctl {

struct RelayBoardInfo {
  uint16_t kind = 0;
  std::array<uint16_t, 6> base{};
};

// Korvel's port-access driver.
class KorvelSession : public LibrarySession {
 public:
  KorvelSession();
  ~KorvelSession() { PCI_DriverClose(); }
  // The model and base words of board n (n < count()).
  RelayBoardInfo Query(uint16_t n) const;
};

const char* ModelName(uint16_t kind);
// Relays (and inputs) of a model: 16 on a KORVEL board, 8 on a LUMAR board.
unsigned RelayCount(uint16_t kind);

// The board block's registers of a model: where the relay outputs (which
// read back the relay states) and the inputs sit.
uint16_t RelayOutputOffset(uint16_t kind);
uint16_t RelayInputOffset(uint16_t kind);
// A port access as wide as the model's registers: 16 bits on a KORVEL board,
// 8 on a LUMAR board.
void WriteRelayPort(uint16_t kind, uint16_t port, uint32_t pattern);
uint16_t ReadRelayPort(uint16_t kind, uint16_t port);

// Refuses (Failure(kExitUsage)) a relay pattern wider than board `board`.
void CheckRelayPattern(const RelayBoardInfo& info, unsigned board, uint32_t pattern);

// The relay part of `list`: the boards one scan finds, with `verbose` what
// each one has.
std::string ListRelayBoards(bool verbose);

}  // namespace daqctl

#endif
