// list and relay: the relay boards through Korvel.
#include <fmt/format.h>

#include <array>

#include "daqctl.h"
#include "korvel.h"

namespace daqctl {
namespace {

struct RelayBoardInfo {
  uint16_t kind = 0;
  std::array<uint16_t, 6> base{};
};

// Opens the port-access driver and scans; returns the number of boards.
uint16_t OpenKorvel() {
  unsigned short count = 0;
  const uint16_t status = PCI_DriverInit(&count);
  if (status == KORVEL_ERR_NO_BOARD) return 0;
  if (status != KORVEL_OK) throw Failure(kExitFailure, KorvelStatusText(status));
  return count;
}

RelayBoardInfo QueryBoard(uint16_t n) {
  RelayBoardInfo info;
  auto& b = info.base;
  const uint16_t status = PCI_GetConfigAddressSpace(n, &info.kind, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
  if (status != KORVEL_OK) throw Failure(kExitFailure, fmt::format("board {}: {}", n, KorvelStatusText(status)));
  return info;
}

const char* ModelName(uint16_t kind) {
  return kind == RELAY_KIND_KORVEL ? "KORVEL" : kind == RELAY_KIND_LUMAR ? "LUMAR" : "unknown";
}

// Closes the driver on every path out of a command.
struct KorvelSession {
  KorvelSession() : count(OpenKorvel()) {}
  ~KorvelSession() { PCI_DriverClose(); }
  uint16_t count;
};

}  // namespace

void ListRelayBoards() {
  KorvelSession session;
  fmt::print("Relay boards (Korvel): {}\n", session.count);
  if (session.count > 0) fmt::print("  #  model    slot    base0  base1  base2  base3  base4  base5\n");
  for (uint16_t n = 0; n < session.count; ++n) {
    const RelayBoardInfo info = QueryBoard(n);
    fmt::print("  {:<2} {:<8} {:<7}", n, ModelName(info.kind), BoardSlot(Family::kRelay, n));
    for (uint16_t w : info.base) fmt::print(" {:#06x}", w);
    fmt::print("\n");
  }
}

int RunRelay(const RelayArgs& args) {
  if (args.bar > 5) throw Failure(kExitUsage, "--bar must be 0 to 5");
  if (args.port && *args.port > 0xFFFF) throw Failure(kExitUsage, "--port must be a 16-bit port address");
  KorvelSession session;
  if (args.board >= session.count) {
    throw Failure(kExitFailure, fmt::format("there is no relay board {} (boards found: {})", args.board,
                                            session.count));
  }
  const RelayBoardInfo info = QueryBoard(uint16_t(args.board));
  const bool korvel = info.kind == RELAY_KIND_KORVEL;
  const uint32_t mask = korvel ? 0xFFFF : 0xFF;
  if (args.set && *args.set > mask) {
    throw Failure(kExitUsage, fmt::format("{} board {} has {} relays: pattern {:#x} does not fit",
                                          ModelName(info.kind), args.board, korvel ? 16 : 8, *args.set));
  }
  const uint16_t base = info.base[args.bar];
  const uint16_t outPort = args.port ? uint16_t(*args.port)
                                     : uint16_t(base + args.outOffset.value_or(korvel ? KORVEL_OUTPUT_OFFSET
                                                                                       : LUMAR_OUTPUT_OFFSET));
  const uint16_t inPort = args.port ? uint16_t(*args.port)
                                    : uint16_t(base + args.inOffset.value_or(korvel ? KORVEL_INPUT_OFFSET
                                                                                     : LUMAR_INPUT_OFFSET));
  const int digits = korvel ? 4 : 2;
  if (args.set) {
    if (korvel) {
      KORVEL_DO(outPort, uint16_t(*args.set));
    } else {
      LUMAR_DO(outPort, uint8_t(*args.set));
    }
    fmt::print("board {} ({}): outputs {:#0{}x} written to port {:#06x}\n", args.board, ModelName(info.kind),
               *args.set, digits + 2, outPort);
  }
  const uint32_t inputs = korvel ? KORVEL_DI(inPort) : LUMAR_DI(inPort);
  fmt::print("board {} ({}): inputs  {:#0{}x} read from port {:#06x}  ({:0{}b})\n", args.board,
             ModelName(info.kind), inputs, digits + 2, inPort, inputs, korvel ? 16 : 8);
  return kExitOk;
}

}  // namespace daqctl
