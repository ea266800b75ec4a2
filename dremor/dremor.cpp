// Dremor: driver access, discovery and selection of the VARNO multifunction
// boards; their 8254 timer, digital port and A/D converter.
#define DREMOR_BUILDING_LIBRARY
#include "dremor.h"

#include <stdint.h>

#include <limits>

#include "dremor_internal.h"
#include "held_device.h"
#include "kelvra.h"
#include "legacy_arithmetic.h"
#include "library_lock.h"
#include "pci_config.h"
#include "platform.h"
#include "port_io.h"
#include "varno_ioctl.h"

namespace {

// One row of the board table, three 16-bit words in this order.
struct BoardRecord {
  uint16_t BridgeBase;  // BAR1 AND 0xFFFE
  uint16_t IoBase;      // BAR2 AND 0xFFFE
  uint16_t Irq;         // configuration register 0x3C, low half: line, pin
};

// The active board: its bases, the port of every register (derived once, at
// selection), its interrupt line, and the library's counters. Ports are
// 16-bit sums and wrap at 0x10000, as the CPU's port addresses do.
struct ActiveBoardState {
  uint16_t BoardsFound;  // 1 once any scan has recorded a board; never cleared
  uint16_t BridgeBase;
  uint16_t IoBase;
  uint16_t TimerBase;    // the 8254 registers are always addressed from here
  uint16_t AdStatusPort;
  uint16_t DigitalIoPort;
  uint16_t AdDataPort;
  uint16_t ChannelSelectPort;
  uint16_t GainControlPort;
  uint16_t AdModeControlPort;
  uint16_t SoftwareTriggerPort;
  uint16_t Irq;          // interrupt line, 0-255
  uint16_t CurrentConfigCode;
  uint16_t BoardCount;
  uint16_t ActiveIndex;
};

// The library's process-wide state, all zero at load.
struct DremorState {
  BoardRecord BoardTable[DREMOR_MAX_BOARDS];
  ActiveBoardState Active;
};

DremorState g_state;

// PortAccessHandle, the port-access driver "\\.\kelvra". While it is held
// the CPU lets this process execute port instructions; outside that span a
// port instruction would raise a privileged-instruction exception and kill
// the application, so nothing here touches a port then.
HeldDevice g_portAccess;

// InterruptDeviceHandle, the interrupt device of the active board. Requests
// go to it only while it is held.
HeldDevice g_interruptDevice;

// True from the first accepted VARNO_ActiveBoard on: only then do the port
// fields of ActiveBoardState name a board. Before it they are 0, which would
// address the PC's DMA and interrupt controllers at 0x0000-0x0030.
bool g_boardSelected = false;

// Whether register ports of the active board may be accessed now.
bool BoardPortsUsable() { return g_portAccess.held && g_boardSelected; }

// What the active board is owed from a time without port access: a board
// selected then was not reset, a board stopped then was not parked. Both are
// paid by BoardReady, before the library's next access to the board, so that
// no board is ever driven from an unknown state.
bool g_resetOwed = false;
bool g_parkOwed = false;

// "\\.\VARNO0" .. "\\.\VARNO3": the interrupt device of board n.
static_assert(VARNO_DEVICES == DREMOR_MAX_BOARDS, "one interrupt device per row of the board table");
const char* const kInterruptDeviceNames[VARNO_DEVICES] = {
    VARNO_DEVICE_PREFIX "0", VARNO_DEVICE_PREFIX "1", VARNO_DEVICE_PREFIX "2", VARNO_DEVICE_PREFIX "3"};

// Opens the interrupt device of board `board` (0-3). Returns false when the
// open failed.
bool OpenInterruptDevice(uint16_t board) {
  // ActiveIndex is below BoardCount (at most 4) whenever it changes, so the
  // mask only guards the table.
  return HeldDeviceOpen(&g_interruptDevice, kInterruptDeviceNames[board & (DREMOR_MAX_BOARDS - 1)]);
}

// A synchronous request to the interrupt driver. Fails without asking when no
// interrupt device is held. The byte count the driver reports is not used.
bool SendRequest(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize) {
  if (!g_interruptDevice.held) return false;
  uint32_t returned = 0;
  return PlatformDeviceIoControl(g_interruptDevice.handle, code, in, inSize, out, outSize, &returned) != 0;
}

// The boards Dremor drives.
constexpr PciIdMatch kPciIds[] = {{VARNO_PCI_VENDOR_ID, VARNO_PCI_DEVICE_ID, 0}};

// Asks the platform for the `size` ports of a block at `base` (on Linux the
// kernel grants ports one range at a time; on Windows every port is open
// already). A block that runs past 0xFFFF wraps, as the library's 16-bit
// port sums do.
void AllowBlock(uint16_t base, uint32_t size) {
  const uint32_t below = 0x10000u - base;
  PlatformAllowPorts(base, size < below ? size : below);
  if (size > below) PlatformAllowPorts(0, size - below);
}

void RecordBoard(void*, uint8_t bus, uint8_t device, uint16_t) {
  // The table holds 4 boards, and interrupt devices exist for boards 0-3
  // only: further boards are passed over without a configuration read.
  if (g_state.Active.BoardCount >= DREMOR_MAX_BOARDS) return;
  BoardRecord& row = g_state.BoardTable[g_state.Active.BoardCount];
  row.BridgeBase = uint16_t(PciReadConfig32(bus, device, PCI_REG_BAR0 + VARNO_BRIDGE_BAR) & PCI_BASE_WORD_MASK);
  row.IoBase = uint16_t(PciReadConfig32(bus, device, PCI_REG_BAR0 + VARNO_BOARD_BAR) & PCI_BASE_WORD_MASK);
  row.Irq = uint16_t(PciReadConfig32(bus, device, PCI_REG_INTERRUPT));
  // The library reaches a board only through its two blocks.
  AllowBlock(row.BridgeBase, VARNO_BRIDGE_BLOCK_SIZE);
  AllowBlock(row.IoBase, VARNO_BOARD_BLOCK_SIZE);
  g_state.Active.BoardsFound = 1;
  ++g_state.Active.BoardCount;
}

// Board numbers follow the order of the bus walk. Callers hold port access.
uint16_t ScanBus() {
  g_state.Active.BoardCount = 0;
  PciWalkBus(kPciIds, sizeof kPciIds / sizeof kPciIds[0], RecordBoard, nullptr);
  return g_state.Active.BoardCount != 0 ? DREMOR_OK : DREMOR_ERR_NO_BOARD;
}

uint16_t Add16(uint16_t base, uint16_t offset) { return uint16_t(base + offset); }

// Fills the bases, ports and IRQ of ActiveBoardState from a table row.
void DeriveActiveBoard(const BoardRecord& row) {
  ActiveBoardState& a = g_state.Active;
  a.BridgeBase = row.BridgeBase;
  a.IoBase = row.IoBase;
  a.TimerBase = row.IoBase;
  a.AdStatusPort = Add16(row.IoBase, VARNO_AD_STATUS);
  a.ChannelSelectPort = Add16(row.IoBase, VARNO_CHANNEL_SELECT);
  a.DigitalIoPort = Add16(row.IoBase, VARNO_DIGITAL_IO);
  a.GainControlPort = Add16(row.IoBase, VARNO_GAIN_CONTROL);
  a.AdDataPort = Add16(row.IoBase, VARNO_AD_DATA);
  a.AdModeControlPort = Add16(row.IoBase, VARNO_AD_MODE_CONTROL);
  a.SoftwareTriggerPort = Add16(row.IoBase, VARNO_SOFTWARE_TRIGGER);
  a.Irq = uint16_t(row.Irq & 0xFFu);
}

// Loads 8254 counter `counter` (bits 0-1) with `count` in mode 2, low byte
// then high byte, binary: three 8-bit writes.
void ProgramCounter(uint16_t counter, uint16_t count) {
  const uint16_t n = counter & 3u;
  const uint16_t port = Add16(g_state.Active.TimerBase, uint16_t(n * VARNO_COUNTER_STRIDE));
  PortWrite8(Add16(g_state.Active.TimerBase, VARNO_COUNTER_CONTROL), uint8_t((n << 6) + VARNO_CW_MODE2_LOHI));
  PortWrite8(port, CountLowByte(count));
  PortWrite8(port, CountHighByte(count));
}

// Puts the active board into its quiet state: bridge interrupt off, channel
// 0, counters 1, 0 and 2 parked. GainControl, AdModeControl and the digital
// outputs keep their values.
uint16_t ResetBoard() {
  const ActiveBoardState& a = g_state.Active;
  PortWrite8(Add16(a.BridgeBase, VARNO_INTERRUPT_CONTROL), VARNO_INTERRUPT_OFF);
  PortWrite8(a.ChannelSelectPort, 0x00);
  ProgramCounter(1, VARNO_PARK_COUNT);
  ProgramCounter(0, VARNO_PARK_COUNT);
  ProgramCounter(2, VARNO_PARK_COUNT);
  return DREMOR_OK;
}

// Whether the active board's registers may be accessed now; if they may,
// first pays what the board is owed (see g_resetOwed). Every routine that
// touches a derived port asks this first.
bool BoardReady() {
  if (!BoardPortsUsable()) return false;
  if (g_resetOwed) {
    ResetBoard();  // parks the pacer too
  } else if (g_parkOwed) {
    ProgramCounter(0, VARNO_PARK_COUNT);
  }
  g_resetOwed = g_parkOwed = false;
  return true;
}

// ---- Input ranges -----------------------------------------------------------

// The byte of a configuration code that GainControl receives: its low byte.
uint8_t GainByteOf(uint16_t code) { return uint8_t(code & 0xFFu); }

// Clocks of counter 2 to settle after selecting `code`. A code without a row
// gets the longest wait of the table: its gain is unknown, so assume the
// slowest.
uint16_t SettlingCountOf(uint16_t code) {
  const VarnoRange* row = VarnoRangeOf(code);
  return row ? uint16_t(VARNO_SETTLING_CLOCKS_PER_STEP * row->settling) : VarnoLongestSettling();
}

// The range volts are converted with under `code`. A code without a row put
// its low byte on the board: if that byte is a code of the table, the board
// runs that range. Otherwise the gain is unknown and every reading is NaN.
float RangeOf(uint16_t code) {
  const VarnoRange* row = VarnoRangeOf(code);
  if (!row) row = VarnoRangeOf(GainByteOf(code));
  return row ? row->fullScale : std::numeric_limits<float>::quiet_NaN();
}

// (code - 2048) x 1/2048 x range: both products are exact in double
// precision, so the one rounding is the conversion to single precision.
float CodeToVolts(uint16_t code, float range) {
  return float((double(code) - VARNO_AD_MID_SCALE) * double(VARNO_AD_STEP) * double(range));
}

// ---- Settling and end-of-conversion waits -------------------------------------

// Waits `count` (bits 0-14; 0 counts as 1) clocks of counter 2 plus the load
// and wrap edges: counter 2 runs in mode 0 from count, and bit 15 of its
// latched value turns 1 only when it has counted through zero to 0xFFFF. At
// most 32767 polls; the wait ends the same way when they run out.
void SettlingWait(uint32_t requested) {
  const uint16_t count = VarnoSettlingLoadCount(requested);
  const uint16_t control = Add16(g_state.Active.TimerBase, VARNO_COUNTER_CONTROL);
  const uint16_t counter2 = Add16(g_state.Active.TimerBase, VARNO_COUNTER2);
  PortWrite8(control, VARNO_CW_COUNTER2_MODE0);
  PortWrite8(counter2, CountLowByte(count));
  PortWrite8(counter2, CountHighByte(count));
  // A first latch and read-back, discarded: the count is not loaded yet.
  PortWrite8(control, VARNO_CW_LATCH_COUNTER2);
  (void)PortRead8(counter2);
  (void)PortRead8(counter2);
  for (uint32_t poll = 0; poll < VARNO_SETTLING_MAX_POLLS; ++poll) {
    PortWrite8(control, VARNO_CW_LATCH_COUNTER2);
    (void)PortRead8(counter2);  // low byte
    if (PortRead8(counter2) & VARNO_COUNT_HIGH_BIT) return;
  }
}

// Reads AdStatus until its end-of-conversion bit shows `done`, at most
// VARNO_AD_STATUS_READS reads. False when none of them showed it.
bool AwaitEndOfConversionFlag(bool done) {
  for (uint32_t reads = 0; reads < VARNO_AD_STATUS_READS; ++reads) {
    const bool flag = (PortRead8(g_state.Active.AdStatusPort) & VARNO_AD_STATUS_DONE) != 0;
    if (flag == done) return true;
  }
  return false;
}

// The wait after a software trigger: false on time-out.
bool ReadyWait() { return AwaitEndOfConversionFlag(true); }

// The code of the finished conversion: AdData bits 0-11.
uint16_t ReadAdCode() { return uint16_t(PortRead16(g_state.Active.AdDataPort) & VARNO_AD_CODE_MASK); }

// Conversions need port access, a selected board, and the active board
// number below the board count (a rescan may have found fewer boards).
bool ConversionsAllowed() {
  return g_state.Active.ActiveIndex < g_state.Active.BoardCount && BoardReady();
}

// ---- Pacer-clocked block ------------------------------------------------------

// Paces `count` conversions with counter 0 at `divisor` clocks each and hands
// each code to store(i, code). Every sample is one whole cycle of the
// end-of-conversion flag seen after the previous sample: low (a pacer pulse
// started a conversion), then high (its result is in AdData). A complete
// block parks the pacer; a time-out returns at once and leaves it pacing.
template <class Store>
uint16_t PacerBlock(uint16_t count, uint16_t divisor, Store store) {
  ProgramCounter(0, divisor);
  PortWrite8(g_state.Active.AdModeControlPort, VARNO_AD_MODE_PACER);
  for (uint32_t i = 0; i < count; ++i) {
    if (!AwaitEndOfConversionFlag(false)) return DREMOR_ERR_AD_TIMEOUT;
    if (!AwaitEndOfConversionFlag(true)) return DREMOR_ERR_AD_TIMEOUT;
    store(i, ReadAdCode());
  }
  ProgramCounter(0, VARNO_PARK_COUNT);
  return DREMOR_OK;
}

// ---- Interrupt-driven acquisition ------------------------------------------------

// 2 x count bytes must fit the 32-bit size of a request (and of a buffer of a
// 32-bit process): a count of 2^31 or more would make the size wrap, and the
// driver would be told a size far smaller than the words it is asked for.
constexpr uint32_t kMaxSampleCount = 0x7FFFFFFFu;

uint32_t SampleBytes(uint32_t count) { return 2u * count; }

// IOCTL_VARNO_READ_SAMPLES for `count` words into `words`.
bool ReadSamples(uint32_t count, void* words) {
  return SendRequest(IOCTL_VARNO_READ_SAMPLES, &count, VARNO_SAMPLE_COUNT_SIZE, words, SampleBytes(count));
}

}  // namespace

extern "C" {

unsigned short DREMOR_CALL VARNO_DriverInit(unsigned short* count) {
  const LibraryLock lock;
  // Both devices are opened with share mode 0: handles of ours from before
  // would make the new opens fail, and would leak. Close them first.
  HeldDeviceClose(&g_interruptDevice);
  HeldDeviceClose(&g_portAccess);

  // The interrupt device first: without it the board cannot be used at all.
  // A platform without the interrupt driver has no device to open (its
  // background acquisition answers as for a missing device).
  if (PlatformHasInterruptDriver() && !OpenInterruptDevice(g_state.Active.ActiveIndex)) {
    return DREMOR_ERR_NO_INTERRUPT_DEVICE;
  }

  if (!HeldDeviceOpen(&g_portAccess, KELVRA_DEVICE_NAME)) return DREMOR_ERR_NO_DRIVER;

  const uint16_t status = ScanBus();
  *count = g_state.Active.BoardCount;
  return status;
}

int DREMOR_CALL VARNO_DriverClose(void) {
  const LibraryLock lock;
  const int32_t portAccessClosed = HeldDeviceClose(&g_portAccess);
  // Without an interrupt driver on the platform, the port-access device is
  // the one the library held.
  if (!PlatformHasInterruptDriver()) return portAccessClosed;
  return HeldDeviceClose(&g_interruptDevice);
}

unsigned short DREMOR_CALL VARNO_GetDriverVersion(unsigned short* version) {
  const LibraryLock lock;
  *version = DREMOR_NO_DRIVER_VERSION;
  uint16_t reply = 0;
  if (!SendRequest(IOCTL_VARNO_GET_VERSION, nullptr, 0, &reply, VARNO_VERSION_SIZE)) {
    return DREMOR_ERR_DRIVER_VERSION;
  }
  *version = reply;
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_GetIrqNo(unsigned short* irq) {
  const LibraryLock lock;
  *irq = g_state.Active.Irq;
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_GetConfigAddressSpace(unsigned short board, unsigned short* ioBase,
                                                       unsigned short* dioPort, unsigned short* adPort) {
  const LibraryLock lock;
  if (!g_state.Active.BoardsFound) {
    // The lazy scan needs port access; without it nothing can be found.
    if (!g_portAccess.held || ScanBus() != DREMOR_OK) return DREMOR_ERR_LAZY_NO_BOARD;
  }
  if (board >= g_state.Active.BoardCount) return DREMOR_ERR_BOARD_RANGE;
  const uint16_t base = g_state.BoardTable[board].IoBase;
  *ioBase = base;
  *dioPort = Add16(base, VARNO_DIGITAL_IO);
  *adPort = Add16(base, VARNO_AD_DATA);
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_ActiveBoard(unsigned short board) {
  const LibraryLock lock;
  if (board >= g_state.Active.BoardCount) return DREMOR_ERR_BOARD_RANGE;
  g_state.Active.ActiveIndex = board;
  DeriveActiveBoard(g_state.BoardTable[board]);
  g_boardSelected = true;
  // Without port access the selection stands and the reset is owed: it runs
  // before the library next touches this board.
  g_parkOwed = false;
  g_resetOwed = true;
  BoardReady();

  if (!PlatformHasInterruptDriver()) return DREMOR_OK;  // no device to re-bind
  // Re-bind the interrupt driver to the new board. The device is exclusive,
  // so the old handle goes first; the pause lets the driver release the
  // board it served.
  HeldDeviceClose(&g_interruptDevice);
  PlatformSleep(100);
  return OpenInterruptDevice(board) ? DREMOR_OK : DREMOR_ERR_NO_INTERRUPT_DEVICE;
}

unsigned short DREMOR_CALL VARNO_WhichBoardActive(void) {
  const LibraryLock lock;
  return g_state.Active.ActiveIndex;
}

void DREMOR_CALL VARNO_SetupTimer(unsigned short counter, unsigned short divisor) {
  const LibraryLock lock;
  if (!BoardReady()) return;
  ProgramCounter(counter, divisor);
}

void DREMOR_CALL VARNO_Do(unsigned short pattern) {
  const LibraryLock lock;
  if (!BoardReady()) return;
  PortWrite16(g_state.Active.DigitalIoPort, pattern);
}

unsigned short DREMOR_CALL VARNO_Di(unsigned short* pattern) {
  const LibraryLock lock;
  if (!BoardReady()) return DREMOR_ERR_BOARD_RANGE;
  *pattern = PortRead16(g_state.Active.DigitalIoPort);
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_SetChannelConfig(unsigned char channel, unsigned short configCode) {
  const LibraryLock lock;
  if (!BoardReady()) return DREMOR_ERR_BOARD_RANGE;
  PortWrite8(g_state.Active.ChannelSelectPort, channel);
  PortWrite8(g_state.Active.GainControlPort, GainByteOf(configCode));
  g_state.Active.CurrentConfigCode = configCode;
  SettlingWait(SettlingCountOf(configCode));
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_Polling(unsigned short* rawCode) {
  const LibraryLock lock;
  if (!ConversionsAllowed()) return DREMOR_ERR_BOARD_RANGE;
  PortWrite16(g_state.Active.SoftwareTriggerPort, 0);
  if (!ReadyWait()) return DREMOR_ERR_AD_TIMEOUT;
  *rawCode = ReadAdCode();
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_AdPolling(float* volts) {
  const LibraryLock lock;
  if (!ConversionsAllowed()) return DREMOR_ERR_BOARD_RANGE;
  PortWrite8(g_state.Active.SoftwareTriggerPort, 0);
  if (!ReadyWait()) return DREMOR_ERR_AD_TIMEOUT;
  *volts = CodeToVolts(ReadAdCode(), RangeOf(g_state.Active.CurrentConfigCode));
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_AdsPolling(float* volts, unsigned short count) {
  const LibraryLock lock;
  if (!ConversionsAllowed()) return DREMOR_ERR_BOARD_RANGE;
  const float range = RangeOf(g_state.Active.CurrentConfigCode);
  for (uint32_t i = 0; i < count; ++i) {
    PortWrite8(g_state.Active.SoftwareTriggerPort, 0);
    if (!ReadyWait()) return DREMOR_ERR_AD_TIMEOUT;
    volts[i] = CodeToVolts(ReadAdCode(), range);
  }
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_AdsPacer(float* volts, unsigned short count, unsigned short divisor) {
  const LibraryLock lock;
  if (!ConversionsAllowed()) return DREMOR_ERR_BOARD_RANGE;
  const float range = RangeOf(g_state.Active.CurrentConfigCode);  // once, for the whole block
  return PacerBlock(count, divisor, [volts, range](uint32_t i, uint16_t code) {
    volts[i] = CodeToVolts(code, range);
  });
}

unsigned short DREMOR_CALL VARNO_AdsPacerHex(unsigned short* buffer, unsigned short count,
                                             unsigned short divisor) {
  const LibraryLock lock;
  if (!ConversionsAllowed()) return DREMOR_ERR_BOARD_RANGE;
  return PacerBlock(count, divisor, [buffer](uint32_t i, uint16_t code) { buffer[i] = code; });
}

unsigned short DREMOR_CALL VARNO_InstallIrq(void* userValue, uint32_t userParam) {
  const LibraryLock lock;
  // The 4 bytes at the caller's address go to the driver as they are.
  if (!SendRequest(IOCTL_VARNO_IRQ_USER_VALUE, userValue, VARNO_USER_VALUE_SIZE, nullptr, 0)) {
    return DREMOR_ERR_INSTALL_IRQ;
  }
  const ActiveBoardState& a = g_state.Active;
  VarnoIrqResources record;
  record.BridgeBase = a.BridgeBase;
  record.IoBase = a.IoBase;
  record.Irq = a.Irq;
  record.UserParam = userParam;
  return SendRequest(IOCTL_VARNO_IRQ_RESOURCES, &record, VARNO_IRQ_RESOURCES_SIZE, nullptr, 0)
             ? DREMOR_OK
             : DREMOR_ERR_INSTALL_IRQ;
}

unsigned short DREMOR_CALL VARNO_INT_AdStart(unsigned char channel, unsigned short configCode,
                                             unsigned short divisor) {
  const LibraryLock lock;
  // Without an interrupt driver on the platform nobody would service the
  // board's interrupt: the board is not started at all.
  if (!PlatformHasInterruptDriver()) return DREMOR_ERR_INTERRUPT_REQUEST;
  if (!BoardReady()) return DREMOR_ERR_BOARD_RANGE;
  ActiveBoardState& a = g_state.Active;
  a.CurrentConfigCode = configCode;
  // The pacer parked while channel and range change, so that no conversion
  // is paced on a half-configured input.
  ProgramCounter(0, VARNO_PARK_COUNT);
  PortWrite8(a.ChannelSelectPort, channel);
  PortWrite8(a.GainControlPort, GainByteOf(configCode));
  SettlingWait(SettlingCountOf(configCode));
  PortWrite8(a.AdModeControlPort, VARNO_AD_MODE_INTERRUPT);
  PortWrite8(Add16(a.BridgeBase, VARNO_INTERRUPT_CONTROL), VARNO_INTERRUPT_ON);
  ProgramCounter(0, divisor);
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_INT_AdStop(void) {
  const LibraryLock lock;
  if (!PlatformHasInterruptDriver()) return DREMOR_ERR_INTERRUPT_REQUEST;  // nothing was started
  if (BoardReady()) {
    // Park first: the pacer stops whatever the driver answers.
    ProgramCounter(0, VARNO_PARK_COUNT);
  } else if (!g_interruptDevice.held) {
    // Neither the pacer nor the driver can be reached: nothing is done.
    return DREMOR_ERR_BOARD_RANGE;
  } else {
    // No port access now (a later VARNO_DriverInit failed, say): the driver
    // is told to stop all the same, and the park is owed to the board.
    g_parkOwed = g_boardSelected;
  }
  return SendRequest(IOCTL_VARNO_STOP, nullptr, 0, nullptr, 0) ? DREMOR_OK : DREMOR_ERR_INTERRUPT_REQUEST;
}

unsigned short DREMOR_CALL VARNO_GetIntCount(uint32_t* intCount) {
  const LibraryLock lock;
  uint32_t count = 0;
  if (!SendRequest(IOCTL_VARNO_GET_INT_COUNT, nullptr, 0, &count, VARNO_INT_COUNT_SIZE)) {
    return DREMOR_ERR_INTERRUPT_REQUEST;
  }
  *intCount = count;
  return DREMOR_OK;
}

unsigned short DREMOR_CALL VARNO_GetBuffer(uint32_t count, unsigned short* buffer) {
  const LibraryLock lock;
  if (g_state.Active.ActiveIndex >= g_state.Active.BoardCount) return DREMOR_ERR_BOARD_RANGE;
  // A size that would wrap is never sent: the driver would be asked for more
  // words than it is told there is room for.
  if (count > kMaxSampleCount) return DREMOR_ERR_INTERRUPT_REQUEST;
  return ReadSamples(count, buffer) ? DREMOR_OK : DREMOR_ERR_INTERRUPT_REQUEST;
}

unsigned short DREMOR_CALL VARNO_GetFloatBuffer(uint32_t count, float* volts) {
  const LibraryLock lock;
  if (g_state.Active.ActiveIndex >= g_state.Active.BoardCount) return DREMOR_ERR_BOARD_RANGE;
  // 2 x count bytes would wrap: no buffer of that size can exist here.
  if (count > kMaxSampleCount) return DREMOR_ERR_NO_MEMORY;
  uint16_t* words = static_cast<uint16_t*>(PlatformHeapAlloc(SampleBytes(count)));
  if (!words) return DREMOR_ERR_NO_MEMORY;
  // The range in force now, not when the samples were taken.
  const float range = RangeOf(g_state.Active.CurrentConfigCode);
  uint16_t status = DREMOR_ERR_INTERRUPT_REQUEST;
  if (ReadSamples(count, words)) {
    DremorWordsToVolts(words, volts, count, range);
    status = DREMOR_OK;
  }
  PlatformHeapFree(words);
  return status;
}

unsigned short DREMOR_CALL VARNO_GetDllVersion(void) { return DREMOR_DLL_VERSION; }

float DREMOR_CALL VARNO_FloatSub(float a, float b) { return a - b; }

short DREMOR_CALL VARNO_ShortSub(short a, short b) { return WrappingSub16(a, b); }

}  // extern "C"
