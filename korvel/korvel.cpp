// Korvel: discovery of the relay boards and their output and input ports.
#define KORVEL_BUILDING_LIBRARY
#include "korvel.h"

#include <stdint.h>

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
  PlatformHandle PortAccessHandle;
  BoardRecord BoardTable[KORVEL_MAX_BOARDS];
  uint16_t BoardCount;
  uint16_t BoardsFound;  // 1 once any scan has recorded a board; never cleared
  uint16_t ActiveIndex;
};

KorvelState g_state = {0, {}, 0, 0, KORVEL_NO_ACTIVE_BOARD};

// True exactly while PortAccessHandle is a handle from a successful open that
// has not been closed: the span in which the CPU lets this process execute
// port instructions. Outside it a port instruction would raise a
// privileged-instruction exception and kill the application, so nothing here
// touches a port then. Kept as a lone byte so that the I/O exports test it
// with a single compare.
bool g_portAccess = false;

void RecordBoard(uint8_t bus, uint8_t device, uint16_t kind) {
  if (g_state.BoardCount >= KORVEL_MAX_BOARDS) return;  // the table holds 16 boards; more are ignored
  BoardRecord& row = g_state.BoardTable[g_state.BoardCount];
  for (uint8_t i = 0; i < 6; ++i) {
    PciSelectConfigRegister(bus, device, 0, uint8_t(PCI_REG_BAR0 + i));
    row.BaseAddress[i] = uint16_t(PortRead32(PCI_CONFIG_DATA_PORT) & 0xFFFEu);
  }
  row.BoardKind = kind;
  ++g_state.BoardCount;
  g_state.BoardsFound = 1;
}

// Buses 0-9, devices 0-31, function 0: board numbers follow this order.
uint16_t ScanBus() {
  g_state.BoardCount = 0;
  for (uint8_t bus = 0; bus < PCI_SCAN_BUSES; ++bus) {
    for (uint8_t device = 0; device < PCI_DEVICES_PER_BUS; ++device) {
      PciSelectConfigRegister(bus, device, 0, PCI_REG_ID);
      const uint16_t vendor = PortRead16(PCI_CONFIG_DATA_PORT);
      const uint16_t deviceId = PortRead16(PCI_CONFIG_DATA_HIGH_PORT);
      if (vendor != RELAY_PCI_VENDOR_ID) continue;
      if (deviceId == KORVEL_PCI_DEVICE_ID) {
        RecordBoard(bus, device, RELAY_KIND_KORVEL);
      } else if (deviceId == LUMAR_PCI_DEVICE_ID) {
        RecordBoard(bus, device, RELAY_KIND_LUMAR);
      }
    }
  }
  return g_state.BoardCount != 0 ? KORVEL_OK : KORVEL_ERR_NO_BOARD;
}

// Closes the port-access handle if one is held, and forgets it: its value may
// later belong to another object of the application, which a stale close must
// not hit. Returns CloseHandle's result, or 0 when no handle was held.
int32_t ClosePortAccess() {
  if (!g_portAccess) return 0;
  g_portAccess = false;
  const int32_t result = PlatformCloseHandle(g_state.PortAccessHandle);
  g_state.PortAccessHandle = 0;
  return result;
}

}  // namespace

extern "C" {

float KORVEL_CALL PCI_FloatSub2(float a, float b) { return a - b; }

short KORVEL_CALL PCI_ShortSub2(short a, short b) { return (short)(uint16_t)((uint16_t)a - (uint16_t)b); }

unsigned short KORVEL_CALL PCI_GetDllVersion(void) { return KORVEL_DLL_VERSION; }

unsigned short KORVEL_CALL PCI_DriverInit(unsigned short* count) {
  // The device is opened with share mode 0: an older handle of ours could
  // make the new open fail, and would leak. Close it first.
  ClosePortAccess();
  g_state.PortAccessHandle =
      PlatformCreateFile("\\\\.\\kelvra", PLATFORM_GENERIC_READ, 0, PLATFORM_OPEN_EXISTING,
                         PLATFORM_FILE_ATTRIBUTE_NORMAL);
  if (g_state.PortAccessHandle == PLATFORM_INVALID_HANDLE) return KORVEL_ERR_NO_DRIVER;
  g_portAccess = true;
  const uint16_t status = ScanBus();
  *count = g_state.BoardCount;
  return status;
}

int KORVEL_CALL PCI_DriverClose(void) { return ClosePortAccess(); }

unsigned short KORVEL_CALL PCI_GetDriverVersion(unsigned short* version) {
  *version = KORVEL_DRIVER_VERSION;
  return KORVEL_OK;
}

unsigned short KORVEL_CALL PCI_GetConfigAddressSpace(unsigned short board, unsigned short* kind,
                                                     unsigned short* base0, unsigned short* base1,
                                                     unsigned short* base2, unsigned short* base3,
                                                     unsigned short* base4, unsigned short* base5) {
  if (!g_state.BoardsFound) {
    // The lazy scan needs port access; without it nothing can be found.
    if (!g_portAccess || ScanBus() != KORVEL_OK) return KORVEL_ERR_LAZY_NO_BOARD;
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
  if (board >= g_state.BoardCount) return KORVEL_ERR_BOARD_RANGE;
  g_state.ActiveIndex = board;
  return KORVEL_OK;
}

unsigned short KORVEL_CALL PCI_WhichBoardActive(void) { return g_state.ActiveIndex; }

void KORVEL_CALL KORVEL_DO(unsigned short port, unsigned short pattern) {
  if (g_portAccess) PortWrite16(port, pattern);
}

unsigned short KORVEL_CALL KORVEL_DI(unsigned short port) {
  return g_portAccess ? PortRead16(port) : (unsigned short)0xFFFF;
}

void KORVEL_CALL LUMAR_DO(unsigned short port, unsigned char pattern) {
  if (g_portAccess) PortWrite8(port, pattern);
}

unsigned char KORVEL_CALL LUMAR_DI(unsigned short port) {
  return g_portAccess ? PortRead8(port) : (unsigned char)0xFF;
}

}  // extern "C"
