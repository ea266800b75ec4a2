// The Korvel test fixture: the library loaded afresh for every test on an
// empty bench, with helpers for its discovery calls.
#ifndef DAQ_TESTS_SUPPORT_KORVEL_FIXTURE_H
#define DAQ_TESTS_SUPPORT_KORVEL_FIXTURE_H

#include "korvel.h"
#include "library_fixture.h"

#if !defined(DAQ_KORVEL_FILE)
#error "the build defines DAQ_KORVEL_FILE"
#endif

namespace daqtest {

DAQTEST_DEFINE_EXPORTS(KorvelExports, KORVEL_EXPORT_LIST);
using KorvelApi = LibraryApi<KorvelExports>;

using daqsim::RelayBoard;
using daqsim::RelayModel;

// The model codes PCI_GetConfigAddressSpace reports.
inline constexpr uint16_t kKindKorvel = 0;
inline constexpr uint16_t kKindLumar = 1;

// The relay boards' configuration registers the scan reads: BAR0 to BAR5.
inline const std::vector<unsigned> kRelayBoardRegisters = {4, 5, 6, 7, 8, 9};

// Memory window at 0xFEBF0000, bridge I/O block below the board block, and
// the 16-port board block at `block`.
inline BarSet RelayBars(uint32_t block) {
  BarSet bars{};
  bars[0] = Bar::Memory(0xFEBF0000, 0x80);
  bars[1] = Bar::Io(block - 0x80, 0x80);
  bars[2] = Bar::Io(block, 0x10);
  return bars;
}

class KorvelTest : public LibraryTest<KorvelApi> {
 protected:
  KorvelTest() : LibraryTest(DAQ_KORVEL_FILE) {}

  struct Board {
    uint16_t status;
    uint16_t kind;
    uint16_t base[6];
  };
  // PCI_GetConfigAddressSpace with every output holding kUntouched.
  Board Config(uint16_t board) {
    Board b{};
    b.kind = kUntouched;
    for (auto& w : b.base) w = kUntouched;
    b.status = api.PCI_GetConfigAddressSpace(board, &b.kind, &b.base[0], &b.base[1], &b.base[2], &b.base[3],
                                             &b.base[4], &b.base[5]);
    return b;
  }

  uint16_t Init() { return RunInit(api.PCI_DriverInit); }

  // A KORVEL board at 0:05 and a LUMAR board at 0:06 with the given input
  // patterns, found by PCI_DriverInit.
  struct BothModels {
    RelayBoard& korvel;
    RelayBoard& lumar;
  };
  BothModels InitWithBothModels(uint16_t korvelInputs, uint8_t lumarInputs) {
    RelayBoard& korvel = bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0});
    RelayBoard& lumar = bench().AddRelayBoard(RelayModel::kLumar, PciLocation{0, 6, 0});
    korvel.SetInputs(korvelInputs);
    lumar.SetInputs(lumarInputs);
    EXPECT_EQ(Init(), KORVEL_OK);
    return BothModels{korvel, lumar};
  }
};

}  // namespace daqtest

#endif
