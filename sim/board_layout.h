// The boards as the bench builds them: PCI identities, base address
// registers and the sizes of the blocks behind them. Private to sim/.
//
// Written from the boards' documentation, deliberately independently of the
// libraries' tables (korvel/relay_board_map.h, dremor/varno_board_map.h): the
// bench is an independent model of the boards, so that a wrong entry in a
// library table makes a test fail instead of agreeing with itself. The same
// holds for the other facts the bench keeps in one place of its own: the
// register offsets and widths in each board's decode (relay_board.cpp,
// multifunction_board.cpp), the input ranges (ad_converter.cpp) and the
// drivers' device names (kPortAccessDeviceName, varno_driver.cpp). The only
// library header the bench includes is the interrupt driver's interface,
// dremor/varno_ioctl.h, which the library and the driver share by design.
#ifndef DAQSIM_BOARD_LAYOUT_H
#define DAQSIM_BOARD_LAYOUT_H

#include <cstdint>

namespace daqsim::layout {

// PCI identities: one vendor, a device ID per board, class "data acquisition
// controller, other"; the subsystem IDs repeat vendor and device.
inline constexpr uint16_t kVendorId = 0x1234;
inline constexpr uint16_t kKorvelDeviceId = 0x5C21;
inline constexpr uint16_t kLumarDeviceId = 0x5C22;
inline constexpr uint16_t kVarnoDeviceId = 0x5C2A;
inline constexpr uint32_t kClassCode = 0x118000;

// Every board sits behind the same PCI bridge: BAR0 is the bridge's 128-byte
// memory window (not decoded), BAR1 its 128 I/O ports (the multifunction
// board's InterruptControl is one of them). BAR2 is the board's own block.
inline constexpr int kBridgeMemoryBar = 0;
inline constexpr uint32_t kBridgeMemorySize = 0x80;
inline constexpr int kBridgeIoBar = 1;
inline constexpr uint32_t kBridgeIoSize = 0x80;
inline constexpr int kBoardBlockBar = 2;
inline constexpr uint32_t kRelayBlockSize = 0x10;
inline constexpr uint32_t kVarnoBlockSize = 0x40;

}  // namespace daqsim::layout

#endif
