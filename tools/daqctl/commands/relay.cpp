// relay: write a relay pattern and read the inputs of a relay board.
#include <fmt/format.h>

#include "command.h"
#include "daqctl.h"
#include "relay_boards.h"

namespace daqctl {
namespace {

// The I/O windows of a relay board (relay_board_map.h): the bridge's ports
// behind BAR1 and the board block behind BAR2. BAR0 is a memory window and
// the others are unused: a port formed from them would be some other
// device's (a base word of 0 is the DMA controller).
struct IoWindow {
  unsigned bar;
  uint32_t size;
  const char* what;
};
constexpr IoWindow kIoWindows[] = {
    {RELAY_BRIDGE_IO_BAR, RELAY_BRIDGE_IO_SIZE, "the bridge's I/O window"},
    {RELAY_BOARD_BLOCK_BAR, RELAY_BOARD_BLOCK_SIZE, "the board block"},
};

const IoWindow* FindWindow(unsigned bar) {
  for (const IoWindow& w : kIoWindows) {
    if (w.bar == bar) return &w;
  }
  return nullptr;
}

struct Relay final : Handler {
  unsigned board = 0;
  unsigned bar = RELAY_BOARD_BLOCK_BAR;  // base word the ports are formed from
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
    if (port) return;  // the map is not used
    const IoWindow* window = FindWindow(bar);
    if (!window) {
      throw Failure(kExitUsage,
                    fmt::format("--bar {} is no I/O window of a relay board: use {} ({}, {:#x} ports) or {} ({}, "
                                "{:#x} ports), or --port for an address of your own",
                                bar, kIoWindows[0].bar, kIoWindows[0].what, kIoWindows[0].size, kIoWindows[1].bar,
                                kIoWindows[1].what, kIoWindows[1].size));
    }
    for (const auto& [name, offset] : {std::pair{"--out-offset", outOffset}, std::pair{"--in-offset", inOffset}}) {
      if (offset && *offset >= window->size) {
        throw Failure(kExitUsage, fmt::format("{} {:#x} lies outside {} (base{}, offsets 0 to {:#x})", name, *offset,
                                              window->what, bar, window->size - 1));
      }
    }
  }

  int Run() override {
    KorvelSession session;
    if (board >= session.count()) {
      throw Failure(kExitFailure,
                    fmt::format("there is no relay board {} (boards found: {})", board, session.count()));
    }
    const RelayBoardInfo info = session.Query(uint16_t(board));
    const bool korvel = info.kind == RELAY_KIND_KORVEL;
    if (set) CheckRelayPattern(info, board, *set);
    const uint16_t base = info.base[bar];
    const uint32_t width = korvel ? 2 : 1;  // bytes of one access
    const uint32_t outAt = outOffset.value_or(RelayOutputOffset(info.kind));
    const uint32_t inAt = inOffset.value_or(RelayInputOffset(info.kind));
    if (!port) {
      const IoWindow& window = *FindWindow(bar);
      if (base == 0) {
        throw Failure(kExitFailure, fmt::format("board {} has no {} (base{} reads 0): nothing written", board,
                                                window.what, bar));
      }
      // A 16-bit access covers two ports: both must be the board's.
      for (uint32_t offset : {outAt, inAt}) {
        if (offset + width > window.size) {
          throw Failure(kExitUsage, fmt::format("a {}-bit access at offset {:#x} runs past the end of {} ({:#x} "
                                                "ports)",
                                                width * 8, offset, window.what, window.size));
        }
      }
    }
    const uint16_t outPort = port ? uint16_t(*port) : uint16_t(base + outAt);
    const uint16_t inPort = port ? uint16_t(*port) : uint16_t(base + inAt);
    const int digits = korvel ? 4 : 2;
    if (set) {
      WriteRelayPort(info.kind, outPort, *set);
      Print("board {} ({}): outputs {:#0{}x} written to port {:#06x}\n", board, ModelName(info.kind), *set,
            digits + 2, outPort);
    }
    const uint32_t inputs = ReadRelayPort(info.kind, inPort);
    Print("board {} ({}): inputs  {:#0{}x} read from port {:#06x}  ({:0{}b})\n", board, ModelName(info.kind), inputs,
          digits + 2, inPort, inputs, korvel ? 16 : 8);
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto relay = std::make_unique<Relay>();
  AcceptNumbers(app.add_option("--board,-b", relay->board, "relay board number, as `list` shows it")
                    ->capture_default_str());
  relay->setText.Add(app, "--set,-s", "output pattern to write (e.g. 0x00FF or 0b1010)");
  AcceptNumbers(app.add_option("--bar", relay->bar,
                               fmt::format("base word the ports are formed from: {} (the board block) or {} "
                                           "(the bridge's I/O window)",
                                           RELAY_BOARD_BLOCK_BAR, RELAY_BRIDGE_IO_BAR))
                    ->capture_default_str());
  relay->outText.Add(app, "--out-offset", "output register offset within the window");
  relay->inText.Add(app, "--in-offset", "input register offset within the window");
  relay->portText.Add(app, "--port",
                      "complete port address for both directions, used as given: it overrides the map and is not "
                      "checked against the board's windows (it may write to any device)");
  return relay;
}

}  // namespace

extern const Command kRelay{"relay", "write a relay pattern and read the inputs of a KORVEL or LUMAR board", Define,
                            false};

}  // namespace daqctl
