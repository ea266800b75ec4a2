// relay: write a relay pattern and read the inputs of a relay board.
#include <fmt/format.h>

#include "command.h"
#include "daqctl.h"
#include "relay_boards.h"

namespace daqctl {
namespace {

struct Relay final : Handler {
  unsigned board = 0;
  unsigned bar = 2;  // base word the ports are formed from
  NumberOption setText, portText, outText, inText;
  std::optional<uint32_t> set;   // pattern to write
  std::optional<uint32_t> port;  // complete port address (both directions)
  std::optional<uint32_t> outOffset, inOffset;

  void Check() override {
    set = setText.Get();
    port = portText.Get();
    outOffset = outText.Get();
    inOffset = inText.Get();
    if (bar > 5) throw Failure(kExitUsage, "--bar must be 0 to 5");
    if (port && *port > 0xFFFF) throw Failure(kExitUsage, "--port must be a 16-bit port address");
  }

  int Run() override {
    KorvelSession session;
    if (board >= session.count()) {
      throw Failure(kExitFailure,
                    fmt::format("there is no relay board {} (boards found: {})", board, session.count()));
    }
    const RelayBoardInfo info = session.Query(uint16_t(board));
    const bool korvel = info.kind == RELAY_KIND_KORVEL;
    const uint32_t mask = korvel ? 0xFFFF : 0xFF;
    if (set && *set > mask) {
      throw Failure(kExitUsage, fmt::format("{} board {} has {} relays: pattern {:#x} does not fit",
                                            ModelName(info.kind), board, korvel ? 16 : 8, *set));
    }
    const uint16_t base = info.base[bar];
    const uint16_t outPort =
        port ? uint16_t(*port)
             : uint16_t(base + outOffset.value_or(korvel ? KORVEL_OUTPUT_OFFSET : LUMAR_OUTPUT_OFFSET));
    const uint16_t inPort =
        port ? uint16_t(*port) : uint16_t(base + inOffset.value_or(korvel ? KORVEL_INPUT_OFFSET : LUMAR_INPUT_OFFSET));
    const int digits = korvel ? 4 : 2;
    if (set) {
      if (korvel) {
        KORVEL_DO(outPort, uint16_t(*set));
      } else {
        LUMAR_DO(outPort, uint8_t(*set));
      }
      fmt::print("board {} ({}): outputs {:#0{}x} written to port {:#06x}\n", board, ModelName(info.kind), *set,
                 digits + 2, outPort);
    }
    const uint32_t inputs = korvel ? KORVEL_DI(inPort) : LUMAR_DI(inPort);
    fmt::print("board {} ({}): inputs  {:#0{}x} read from port {:#06x}  ({:0{}b})\n", board, ModelName(info.kind),
               inputs, digits + 2, inPort, inputs, korvel ? 16 : 8);
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto relay = std::make_unique<Relay>();
  app.add_option("--board,-b", relay->board, "relay board number, as `list` shows it")->capture_default_str();
  relay->setText.Add(app, "--set,-s", "output pattern to write (e.g. 0x00FF or 0b1010)");
  app.add_option("--bar", relay->bar, "base word the ports are formed from")->capture_default_str();
  relay->outText.Add(app, "--out-offset", "output register offset from the base word");
  relay->inText.Add(app, "--in-offset", "input register offset from the base word");
  relay->portText.Add(app, "--port", "complete port address for both directions (overrides the map)");
  return relay;
}

}  // namespace

extern const Command kRelay{"relay", "write a relay pattern and read the inputs of a KORVEL or LUMAR board", Define,
                            false};

}  // namespace daqctl
