// Korvel: discovery of the relay boards and their output and input ports.
#define KORVEL_BUILDING_LIBRARY
#include "korvel.h"

#include <stdint.h>

#include "held_device.h"
#include "kelvra.h"
#include "legacy_arithmetic.h"
#include "library_lock.h"
#include "pci_config.h"
#include "platform.h"
#include "port_io.h"

namespace {

// One row of the board table: the six base address registers (AND 0xFFFE)
// and the model code, seven 16-bit words in this order.
struct BoardRecord {
  uint16_t BaseAddress[6];
  uint16_t BoardKind;
};

// The library's process-wide state, zero at load except ActiveIndex.
struct KorvelState {
  BoardRecord BoardTable[KORVEL_MAX_BOARDS];
  uint16_t BoardCount;
  uint16_t BoardsFound;  // 1 once any scan has recorded a board; never cleared
  uint16_t ActiveIndex;
};

KorvelState g_state = {{}, 0, 0, KORVEL_NO_ACTIVE_BOARD};

// PortAccessHandle, the port-access driver. While it is held the CPU lets
// this process execute port instructions; outside that span a port
// instruction would raise a privileged-instruction exception and kill the
// application, so nothing here touches a port then. Its `held` byte is what
// the I/O exports test, with a single compare.
HeldDevice g_portAccess = {0, false};

// The boards Korvel drives, and the model code each is reported with.
constexpr PciIdMatch kPciIds[] = {
    {RELAY_PCI_VENDOR_ID, KORVEL_PCI_DEVICE_ID, RELAY_KIND_KORVEL},
    {RELAY_PCI_VENDOR_ID, LUMAR_PCI_DEVICE_ID, RELAY_KIND_LUMAR},
};

// Records the board at bus/device into the next row: the six base address
// registers (AND 0xFFFE) in order, then the model code.
void RecordBoard(void*, uint8_t bus, uint8_t device, uint16_t kind) {
  if (g_state.BoardCount >= KORVEL_MAX_BOARDS) return;  // the table holds 16 boards; more are ignored
  BoardRecord& row = g_state.BoardTable[g_state.BoardCount];
  for (uint8_t i = 0; i < 6; ++i) {
    row.BaseAddress[i] = uint16_t(PciReadConfig32(bus, device, uint8_t(PCI_REG_BAR0 + i)) & PCI_BASE_WORD_MASK);
  }
  row.BoardKind = kind;
  ++g_state.BoardCount;
  g_state.BoardsFound = 1;
}

// Board numbers follow the order of the bus walk.
uint16_t ScanBus() {
  g_state.BoardCount = 0;
  PciWalkBus(kPciIds, sizeof kPciIds / sizeof kPciIds[0], RecordBoard, nullptr);
  return g_state.BoardCount != 0 ? KORVEL_OK : KORVEL_ERR_NO_BOARD;
}

}  // namespace

extern "C" {

unsigned short KORVEL_CALL PCI_DriverInit(unsigned short* count) {
  const LibraryLock lock;
  // The device is opened with share mode 0: an older handle of ours could
  // make the new open fail, and would leak. Close it first.
  HeldDeviceClose(&g_portAccess);
  if (!HeldDeviceOpen(&g_portAccess, KELVRA_DEVICE_NAME)) return KORVEL_ERR_NO_DRIVER;
  // The I/O exports take any port the application names, so the library asks
  // the platform for the whole port space (on Windows the driver allows it
  // already). Without it those exports could not be used: the open failed.
  if (!PlatformAllowPorts(0, 0x10000)) {
    HeldDeviceClose(&g_portAccess);
    return KORVEL_ERR_NO_DRIVER;
  }
  const uint16_t status = ScanBus();
  *count = g_state.BoardCount;
  return status;
}

unsigned short KORVEL_CALL PCI_GetConfigAddressSpace(unsigned short board, unsigned short* kind,
                                                     unsigned short* base0, unsigned short* base1,
                                                     unsigned short* base2, unsigned short* base3,
                                                     unsigned short* base4, unsigned short* base5) {
  const LibraryLock lock;
  if (!g_state.BoardsFound) {
    // The lazy scan needs port access; without it nothing can be found.
    if (!g_portAccess.held || ScanBus() != KORVEL_OK) return KORVEL_ERR_LAZY_NO_BOARD;
  }
  if (board >= g_state.BoardCount) return KORVEL_ERR_BOARD_RANGE;
  const BoardRecord& row = g_state.BoardTable[board];
  *kind = row.BoardKind;
  *base0 = row.BaseAddress[0];
  *base1 = row.BaseAddress[1];
  *base2 = row.BaseAddress[2];
  *base3 = row.BaseAddress[3];
  *base4 = row.BaseAddress[4];
  *base5 = row.BaseAddress[5];
  return KORVEL_OK;
}

unsigned short KORVEL_CALL PCI_ActiveBoard(unsigned short board) {
  const LibraryLock lock;
  if (board >= g_state.BoardCount) return KORVEL_ERR_BOARD_RANGE;
  g_state.ActiveIndex = board;
  return KORVEL_OK;
}

unsigned short KORVEL_CALL PCI_WhichBoardActive(void) {
  const LibraryLock lock;
  return g_state.ActiveIndex;
}

int KORVEL_CALL PCI_DriverClose(void) {
  const LibraryLock lock;
  return HeldDeviceClose(&g_portAccess);
}

void KORVEL_CALL KORVEL_DO(unsigned short port, unsigned short pattern) {
  if (g_portAccess.HeldNow()) PortWrite16(port, pattern);
}

unsigned short KORVEL_CALL KORVEL_DI(unsigned short port) {
  return g_portAccess.HeldNow() ? PortRead16(port) : (unsigned short)0xFFFF;
}

void KORVEL_CALL LUMAR_DO(unsigned short port, unsigned char pattern) {
  if (g_portAccess.HeldNow()) PortWrite8(port, pattern);
}

unsigned char KORVEL_CALL LUMAR_DI(unsigned short port) {
  return g_portAccess.HeldNow() ? PortRead8(port) : (unsigned char)0xFF;
}

unsigned short KORVEL_CALL PCI_GetDllVersion(void) { return KORVEL_DLL_VERSION; }

unsigned short KORVEL_CALL PCI_GetDriverVersion(unsigned short* version) {
  *version = KORVEL_DRIVER_VERSION;
  return KORVEL_OK;
}

float KORVEL_CALL PCI_FloatSub2(float a, float b) { return a - b; }

short KORVEL_CALL PCI_ShortSub2(short a, short b) { return WrappingSub16(a, b); }

}  // extern "C"
