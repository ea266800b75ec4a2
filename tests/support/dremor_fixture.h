// The Dremor test fixture: the library loaded afresh for every test, boards
// placed on the bench at known addresses, and the trace read with the names
// of the registers reached.
#ifndef DAQ_TESTS_SUPPORT_DREMOR_FIXTURE_H
#define DAQ_TESTS_SUPPORT_DREMOR_FIXTURE_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "dremor.h"
#include "library_fixture.h"

#if !defined(DAQ_DREMOR_FILE)
#error "the build defines DAQ_DREMOR_FILE"
#endif

namespace daqtest {

DAQTEST_DEFINE_EXPORTS(DremorExports, DREMOR_EXPORT_LIST);
using DremorApi = LibraryApi<DremorExports>;

using daqsim::MultifunctionBoard;

// A float output's contents before a call that must not write it.
inline constexpr uint32_t kFloatUntouched = 0x7F7F7F7Fu;
inline float UntouchedFloat() { return FromBits(kFloatUntouched); }
// The blocks of the board SelectedBoard() places and selects.
inline constexpr uint16_t kSelectedBridge = 0xD000;
inline constexpr uint16_t kSelectedIo = 0xE000;

// The multifunction board's configuration registers the scan reads: BAR1,
// BAR2 and the interrupt register.
inline const std::vector<unsigned> kVarnoBoardRegisters = {5, 6, 15};

inline BarSet VarnoBars(uint32_t bridge, uint32_t io) {
  BarSet bars{};
  bars[0] = Bar::Memory(0xFEBF0000, 0x80);
  bars[1] = Bar::Io(bridge, 0x80);  // the bridge block
  bars[2] = Bar::Io(io, 0x40);      // the board block
  return bars;
}

// An access together with the register the bench says it reached.
struct Named {
  Access access;
  std::string reg;
  friend bool operator==(const Named& a, const Named& b) { return a.access == b.access && a.reg == b.reg; }
  friend std::ostream& operator<<(std::ostream& os, const Named& n) { return os << n.access << " " << n.reg; }
};

inline std::vector<Named> NamedTrace() {
  std::vector<Named> out;
  for (const auto& a : Bench::Instance().trace()) {
    out.push_back(Named{Access{a.dir, a.width, a.port, a.value}, a.reg ? a.reg : ""});
  }
  return out;
}

inline Named W8(uint16_t port, uint8_t value, const char* reg) { return Named{Out(1, port, value), reg}; }

// The reset of a freshly selected board: bridge interrupt off, channel 0,
// counters 1, 0, 2 parked with count 1 in mode 2.
inline std::vector<Named> ResetSequence(uint16_t bridge, uint16_t io, bool named = true) {
  auto n = [named](const char* reg) { return named ? reg : ""; };
  return {
      W8(uint16_t(bridge + 0x4C), 0x00, n("InterruptControl")),
      W8(uint16_t(io + 0x10), 0x00, n("ChannelSelect")),
      W8(uint16_t(io + 0x0C), 0x74, n("CounterControl")),
      W8(uint16_t(io + 0x04), 0x01, n("Counter1")),
      W8(uint16_t(io + 0x04), 0x00, n("Counter1")),
      W8(uint16_t(io + 0x0C), 0x34, n("CounterControl")),
      W8(uint16_t(io + 0x00), 0x01, n("Counter0")),
      W8(uint16_t(io + 0x00), 0x00, n("Counter0")),
      W8(uint16_t(io + 0x0C), 0xB4, n("CounterControl")),
      W8(uint16_t(io + 0x08), 0x01, n("Counter2")),
      W8(uint16_t(io + 0x08), 0x00, n("Counter2")),
  };
}

class DremorTest : public LibraryTest<DremorApi> {
 protected:
  DremorTest() : LibraryTest(DAQ_DREMOR_FILE) {}

  // Boards with bridge blocks at 0xD000, 0xD100, ... and board blocks at
  // 0xE000, 0xE100, ..., placed at the given slots; then the interrupt-driver
  // stand-ins for them.
  std::vector<MultifunctionBoard*> Boards(const std::vector<PciLocation>& at) {
    std::vector<MultifunctionBoard*> out;
    for (size_t i = 0; i < at.size(); ++i) {
      out.push_back(&bench().AddMultifunctionBoard(at[i], VarnoBars(0xD000 + 0x100 * i, 0xE000 + 0x100 * i),
                                                   uint8_t(5 + i)));
    }
    bench().InstallVarnoDevices();
    return out;
  }

  uint16_t Init() { return RunInit(api.VARNO_DriverInit); }

  struct Config {
    uint16_t status, io, dio, ad;
  };
  Config ConfigOf(uint16_t board) {
    Config c{0, kUntouched, kUntouched, kUntouched};
    c.status = api.VARNO_GetConfigAddressSpace(board, &c.io, &c.dio, &c.ad);
    return c;
  }

  // One board at bus 0, device 7 (bridge block 0xD000, board block 0xE000,
  // IRQ 5), initialised and selected; trace and opens cleared.
  MultifunctionBoard& SelectedBoard() {
    MultifunctionBoard& board = *Boards({PciLocation{0, 7, 0}})[0];
    EXPECT_EQ(Init(), DREMOR_OK);
    EXPECT_EQ(api.VARNO_ActiveBoard(0), DREMOR_OK);
    bench().ClearTrace();
    bench().ClearOpens();
    return board;
  }
};

}  // namespace daqtest

#endif
