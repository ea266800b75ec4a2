// Behaviour of Dremor on the simulated bench, called across the library
// boundary. Each test loads the library afresh, so its state starts at the
// load values (ActiveIndex 0, nothing found, no handles).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dremor_fixture.h"
#include "varno_ioctl.h"

namespace daqtest {
namespace {

using daqsim::VarnoDriver;
using daqsim::VarnoRegister;

// ---- Discovery ---------------------------------------------------------------------------

TEST_F(DremorTest, ScanMakesExactlyTheSelectsAndReadsOfTheBusWalk) {
  bench().AddStockPcDevices();
  bench().AddRelayBoard(daqsim::RelayModel::kKorvel, PciLocation{0, 5, 0});
  // Added out of scan order: bus 1 first.
  Boards({{1, 4, 0}, {0, 9, 0}});

  EXPECT_EQ(Init(), DREMOR_OK);
  EXPECT_EQ(lastCount, 2);
  const auto trace = Accesses(bench().trace());
  EXPECT_EQ(trace, ExpectedBusWalk({{0, 9, 0}, {1, 4, 0}}, kVarnoBoardRegisters));
  unsigned selects = 0, reads16 = 0, reads32 = 0;
  for (const auto& a : trace) {
    selects += a.dir == daqsim::AccessDir::kWrite && a.width == 4 && a.port == 0xCF8;
    reads16 += a.dir == daqsim::AccessDir::kRead && a.width == 2;
    reads32 += a.dir == daqsim::AccessDir::kRead && a.width == 4;
  }
  EXPECT_EQ(selects, 320u + 2 * 3);
  EXPECT_EQ(reads16, 640u);
  EXPECT_EQ(reads32, 2u * 3);
  EXPECT_EQ(trace.size(), 320u * 3 + 2 * 3 * 2);

  // Board 0 is the one on bus 0, device 9 (board block 0xE100).
  const Config c = ConfigOf(0);
  EXPECT_EQ(c.status, DREMOR_OK);
  EXPECT_EQ(c.io, 0xE100);
  EXPECT_EQ(ConfigOf(1).io, 0xE000);
}

// Row fields from raw configuration registers, seen through
// VARNO_GetConfigAddressSpace, VARNO_GetIrqNo and the reset's port writes.
TEST_F(DremorTest, RowFieldsAndDerivedPortsComeFromTheConfigurationRegisters) {
  const struct {
    uint32_t bar1, bar2, reg3c;
    uint16_t bridge, io, dio, ad, irq;
  } cases[] = {
      {0x0000D001, 0x0000D401, 0x0000010B, 0xD000, 0xD400, 0xD420, 0xD430, 11},
      {0x0000E003, 0x0001A003, 0x000001FF, 0xE002, 0xA002, 0xA022, 0xA032, 255},
      {0xFFFFE001, 0x0000E001, 0x00000205, 0xE000, 0xE000, 0xE020, 0xE030, 5},
      // 16-bit wrap: DigitalIo at 0x0000; then ChannelSelect at 0x0000 and
      // InterruptControl at 0x000C. Such blocks decode nothing (a BAR cannot
      // straddle the top of I/O space); the ports are what counts.
      {0x0000FFC1, 0x0000FFE1, 0x00000100, 0xFFC0, 0xFFE0, 0x0000, 0x0010, 0},
      {0x0000FFC1, 0x0000FFF1, 0x00000100, 0xFFC0, 0xFFF0, 0x0010, 0x0020, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "BAR1 0x" << c.bar1 << " BAR2 0x" << c.bar2);
    bench().Reset();
    MultifunctionBoard& b = *Boards({{0, 7, 0}})[0];
    b.PokeConfigDword(0x14, c.bar1);
    b.PokeConfigDword(0x18, c.bar2);
    b.PokeConfigDword(0x3C, c.reg3c);
    Reload();
    ASSERT_EQ(Init(), DREMOR_OK);
    const Config cfg = ConfigOf(0);
    EXPECT_EQ(cfg.status, DREMOR_OK);
    EXPECT_EQ(cfg.io, c.io);
    EXPECT_EQ(cfg.dio, c.dio);
    EXPECT_EQ(cfg.ad, c.ad);

    uint16_t irq = kUntouched;
    EXPECT_EQ(api.VARNO_GetIrqNo(&irq), DREMOR_OK);
    EXPECT_EQ(irq, 0) << "no board selected yet";

    std::vector<Access> reset;
    for (const auto& n : ResetSequence(c.bridge, c.io, false)) reset.push_back(n.access);
    bench().ClearTrace();
    ASSERT_EQ(api.VARNO_ActiveBoard(0), DREMOR_OK);
    EXPECT_EQ(Accesses(bench().trace()), reset);
    EXPECT_EQ(api.VARNO_GetIrqNo(&irq), DREMOR_OK);
    EXPECT_EQ(irq, c.irq) << "only the interrupt line, not the pin";
  }
}

TEST_F(DremorTest, OnlyTheBoardAtFunctionZeroOnBusesZeroToNineIsFound) {
  bench().AddStockPcDevices();
  const std::vector<FunctionAt> others = {
      {{10, 0, 0}, 0x1234, 0x5C2A},  // bus 10 is not scanned
      {{0, 7, 1}, 0x1234, 0x5C2A},   // function 1 of a device is never looked at
      {{0, 8, 0}, 0x1234, 0x5C21},   // relay boards
      {{0, 9, 0}, 0x1234, 0x5C22},
      {{0, 10, 0}, 0x4321, 0x5C2A},  // right device ID, wrong vendor
  };
  AddFunctions(others, VarnoBars(0xD000, 0xE000));
  EXPECT_EQ(bench().InstallVarnoDevices(), 0u);
  bench().VarnoDevice(0)->SetInstalled(true);  // a driver without its board
  EXPECT_EQ(Init(), DREMOR_ERR_NO_BOARD);
  EXPECT_EQ(lastCount, 0) << "the count is written also when no board is found";
  bench().ClearTrace();
  EXPECT_EQ(ConfigOf(0).status, DREMOR_ERR_LAZY_NO_BOARD);
  EXPECT_EQ(bench().trace().size(), 320u * 3) << "the lazy scan ran and found nothing";
  EXPECT_EQ(api.VARNO_ActiveBoard(0), DREMOR_ERR_BOARD_RANGE);
}

TEST_F(DremorTest, FourBoardsAreRecordedAndNoMore) {
  std::vector<PciLocation> at;
  for (uint8_t dev = 0; dev < 6; ++dev) at.push_back(PciLocation{2, uint8_t(10 + dev), 0});
  Boards(at);
  EXPECT_EQ(bench().VarnoDevice(3)->installed(), true);
  ASSERT_EQ(Init(), DREMOR_OK);
  EXPECT_EQ(lastCount, DREMOR_MAX_BOARDS);
  EXPECT_EQ(Accesses(bench().trace()), ExpectedBusWalk({at[0], at[1], at[2], at[3]}, kVarnoBoardRegisters))
      << "the fifth and sixth boards get no configuration reads";
  for (uint16_t n = 0; n < 4; ++n) EXPECT_EQ(ConfigOf(n).io, 0xE000 + 0x100 * n);
  EXPECT_EQ(ConfigOf(4).status, DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_ActiveBoard(4), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_ActiveBoard(3), DREMOR_OK);
  EXPECT_EQ(bench().opens().back().name, Varno(3));
}

// ---- Driver access ------------------------------------------------------------------------

TEST_F(DremorTest, InitStatusPathsOpenOrderAndUntouchedCount) {
  enum Fault { kNone, kVarnoMissing, kVarnoRefuses, kKelvraMissing, kKelvraRefuses, kNoBoard };
  const struct {
    Fault fault;
    uint16_t status;
    bool countWritten;
    std::vector<std::string> opens;
    unsigned handlesHeld;  // after the call
    bool scanned;
  } cases[] = {
      {kNone, DREMOR_OK, true, {Varno(0), kKelvra}, 2, true},
      {kVarnoMissing, DREMOR_ERR_NO_INTERRUPT_DEVICE, false, {Varno(0)}, 0, false},
      {kVarnoRefuses, DREMOR_ERR_NO_INTERRUPT_DEVICE, false, {Varno(0)}, 0, false},
      {kKelvraMissing, DREMOR_ERR_NO_DRIVER, false, {Varno(0), kKelvra}, 1, false},
      {kKelvraRefuses, DREMOR_ERR_NO_DRIVER, false, {Varno(0), kKelvra}, 1, false},
      {kNoBoard, DREMOR_ERR_NO_BOARD, true, {Varno(0), kKelvra}, 2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "fault " << int(c.fault));
    bench().Reset();
    Reload();
    if (c.fault == kNoBoard) {
      bench().InstallVarnoDevices();
      bench().VarnoDevice(0)->SetInstalled(true);
    } else {
      Boards({{0, 7, 0}});
    }
    if (c.fault == kVarnoMissing) bench().VarnoDevice(0)->SetInstalled(false);
    if (c.fault == kVarnoRefuses) bench().VarnoDevice(0)->SetRefuseOpen(true);
    if (c.fault == kKelvraMissing) bench().PortAccessDriver().SetInstalled(false);
    if (c.fault == kKelvraRefuses) bench().PortAccessDriver().SetRefuseOpen(true);

    EXPECT_EQ(Init(), c.status);
    EXPECT_EQ(lastCount, c.countWritten ? (c.fault == kNoBoard ? 0 : 1) : kUntouched);
    EXPECT_EQ(OpenNames(), c.opens);
    for (const auto& o : bench().opens()) {
      EXPECT_EQ(o.desiredAccess, 0x80000000u);
      EXPECT_EQ(o.shareMode, 0u);
      EXPECT_EQ(o.creationDisposition, 3u);
      EXPECT_EQ(o.flagsAndAttributes, 0x80u);
    }
    EXPECT_EQ(bench().OpenHandleCount(), c.handlesHeld);
    EXPECT_EQ(bench().trace().empty(), !c.scanned);

    // Close returns the result of closing the interrupt device and leaves nothing open.
    EXPECT_EQ(api.VARNO_DriverClose() != 0, c.handlesHeld > 0);
    EXPECT_EQ(bench().OpenHandleCount(), 0u);
    EXPECT_EQ(api.VARNO_DriverClose(), 0) << "a second close closes nothing";
  }
}

TEST_F(DremorTest, InitOpensTheInterruptDeviceOfTheActiveBoard) {
  Boards({{0, 7, 0}, {0, 8, 0}, {0, 9, 0}});
  ASSERT_EQ(Init(), DREMOR_OK);
  ASSERT_EQ(api.VARNO_ActiveBoard(2), DREMOR_OK);
  ASSERT_NE(api.VARNO_DriverClose(), 0);
  bench().ClearOpens();
  ASSERT_EQ(Init(), DREMOR_OK);
  EXPECT_EQ(OpenNames(), (std::vector<std::string>{Varno(2), kKelvra}));
  EXPECT_EQ(api.VARNO_WhichBoardActive(), 2) << "a rescan keeps the active board";

  // The board's driver missing: 101, whatever the port-access driver's state.
  bench().VarnoDevice(2)->SetInstalled(false);
  bench().ClearOpens();
  EXPECT_EQ(Init(), DREMOR_ERR_NO_INTERRUPT_DEVICE);
  EXPECT_EQ(OpenNames(), std::vector<std::string>{Varno(2)});
  EXPECT_EQ(bench().OpenHandleCount(), 0u) << "the handles of the earlier init were closed";
}

TEST_F(DremorTest, RepeatedInitClosesTheHandlesItHeld) {
  // Both devices are exclusive: a handle kept from before would make the
  // next open fail.
  bench().PortAccessDriver().SetExclusive(true);
  Boards({{0, 7, 0}});
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Init(), DREMOR_OK) << "init #" << i;
    EXPECT_EQ(bench().PortAccessDriver().openHandles(), 1u);
    EXPECT_EQ(bench().VarnoDevice(0)->openHandles(), 1u);
  }
  EXPECT_EQ(bench().OpenHandleCount(), 2u);
  EXPECT_NE(api.VARNO_DriverClose(), 0);
  EXPECT_EQ(bench().OpenHandleCount(), 0u);
}

TEST_F(DremorTest, NoHandleLeaksOverManyInitSelectCloseCycles) {
  bench().PortAccessDriver().SetExclusive(true);
  Boards({{0, 7, 0}, {0, 8, 0}, {1, 2, 0}});
  for (unsigned i = 0; i < 50; ++i) {
    ASSERT_EQ(Init(), DREMOR_OK) << i;
    ASSERT_EQ(api.VARNO_ActiveBoard(uint16_t(i % 3)), DREMOR_OK) << i;
    ASSERT_EQ(api.VARNO_ActiveBoard(uint16_t((i + 1) % 3)), DREMOR_OK) << i;
    EXPECT_EQ(bench().OpenHandleCount(), 2u) << i;
    if (i % 5 == 4) continue;  // sometimes init again without closing
    ASSERT_NE(api.VARNO_DriverClose(), 0) << i;
    EXPECT_EQ(bench().OpenHandleCount(), 0u) << i;
  }
  api.VARNO_DriverClose();
  EXPECT_EQ(bench().OpenHandleCount(), 0u);
  EXPECT_EQ(bench().sleepCalls(), 100u);
}

TEST_F(DremorTest, CloseForgetsBothHandlesSoStaleValuesAreNeverUsed) {
  Boards({{0, 7, 0}});
  bench().AddKernelDevice(std::make_unique<daqsim::KernelDevice>("\\\\.\\appdevice"));
  EXPECT_EQ(api.VARNO_DriverClose(), 0) << "nothing held before any init";
  ASSERT_EQ(Init(), DREMOR_OK);
  std::vector<uintptr_t> held;
  for (const auto& o : bench().opens()) held.push_back(o.result);
  EXPECT_NE(api.VARNO_DriverClose(), 0);

  // The application opens two objects and, handle tables being what they
  // are, gets the values the library held.
  const uintptr_t a = bench().OpenDevice("\\\\.\\appdevice", 0x80000000u, 0, 3, 0x80);
  const uintptr_t b = bench().OpenDevice("\\\\.\\appdevice", 0x80000000u, 0, 3, 0x80);
  ASSERT_EQ((std::vector<uintptr_t>{a, b}), held);
  bench().ClearIoControls();
  EXPECT_EQ(api.VARNO_DriverClose(), 0);
  uint16_t version = 0;
  EXPECT_EQ(api.VARNO_GetDriverVersion(&version), DREMOR_ERR_DRIVER_VERSION);
  EXPECT_EQ(version, DREMOR_NO_DRIVER_VERSION);
  EXPECT_TRUE(bench().ioControls().empty()) << "a request went to the application's handle";
  EXPECT_EQ(bench().FindKernelDevice("\\\\.\\appdevice")->openHandles(), 2u)
      << "the application's handles were closed by the library";
  bench().CloseHandle(a);
  bench().CloseHandle(b);
}

TEST_F(DremorTest, DriverVersionComesFromTheInterruptDriverOr0x1234) {
  Boards({{0, 7, 0}});
  uint16_t version = kUntouched;
  EXPECT_EQ(api.VARNO_GetDriverVersion(&version), DREMOR_ERR_DRIVER_VERSION) << "before any init";
  EXPECT_EQ(version, DREMOR_NO_DRIVER_VERSION);
  EXPECT_TRUE(bench().ioControls().empty()) << "no device held, nothing to ask";

  ASSERT_EQ(Init(), DREMOR_OK);
  version = kUntouched;
  EXPECT_EQ(api.VARNO_GetDriverVersion(&version), DREMOR_OK);
  EXPECT_EQ(version, VarnoDriver::kVersion);
  ASSERT_EQ(bench().ioControls().size(), 1u);
  const daqsim::IoControlRecord& r = bench().ioControls()[0];
  EXPECT_EQ(r.device, Varno(0));
  EXPECT_EQ(r.code, 0x22002Cu);
  EXPECT_EQ(r.inSize, 0u);
  EXPECT_EQ(r.outSize, 2u);

  bench().VarnoDevice(0)->FailRequest(IOCTL_VARNO_GET_VERSION);
  version = kUntouched;
  EXPECT_EQ(api.VARNO_GetDriverVersion(&version), DREMOR_ERR_DRIVER_VERSION);
  EXPECT_EQ(version, DREMOR_NO_DRIVER_VERSION);
  EXPECT_EQ(bench().ioControls().size(), 2u);

  // kelvra refused: the interrupt device stays open and answers.
  bench().VarnoDevice(0)->FailRequest(IOCTL_VARNO_GET_VERSION, false);
  bench().PortAccessDriver().SetRefuseOpen(true);
  ASSERT_EQ(Init(), DREMOR_ERR_NO_DRIVER);
  EXPECT_EQ(api.VARNO_GetDriverVersion(&version), DREMOR_OK);
  EXPECT_EQ(version, VarnoDriver::kVersion);
}

// ---- Lazy scan ----------------------------------------------------------------------------

TEST_F(DremorTest, LazyScanRunsOnlyWhileNoBoardWasRecordedAndOnlyWithPortAccess) {
  bench().InstallVarnoDevices();
  bench().VarnoDevice(0)->SetInstalled(true);
  // Before any init there is no port access: no scan, status 6.
  bench().AddMultifunctionBoard(PciLocation{3, 2, 0}, VarnoBars(0xD000, 0xE000), 10);
  Config c = ConfigOf(0);
  EXPECT_EQ(c.status, DREMOR_ERR_LAZY_NO_BOARD);
  EXPECT_EQ(c.io, kUntouched);
  EXPECT_TRUE(bench().trace().empty());

  // The board is pulled before init and comes back after it.
  bench().Remove(PciLocation{3, 2, 0});
  ASSERT_EQ(Init(), DREMOR_ERR_NO_BOARD);
  bench().AddMultifunctionBoard(PciLocation{3, 2, 0}, VarnoBars(0xD000, 0xE000), 10);
  bench().ClearTrace();
  c = ConfigOf(0);
  EXPECT_EQ(c.status, DREMOR_OK);
  EXPECT_EQ(c.io, 0xE000);
  EXPECT_EQ(bench().trace().size(), 320u * 3 + 6u);

  // From then on it never rescans by itself.
  bench().AddMultifunctionBoard(PciLocation{0, 2, 0}, VarnoBars(0xD100, 0xE100), 11);
  bench().ClearTrace();
  EXPECT_EQ(ConfigOf(1).status, DREMOR_ERR_BOARD_RANGE);
  EXPECT_TRUE(bench().trace().empty());

  // A later init finding nothing leaves 13 for every board, without scanning.
  bench().Remove(PciLocation{0, 2, 0});
  bench().Remove(PciLocation{3, 2, 0});
  ASSERT_EQ(Init(), DREMOR_ERR_NO_BOARD);
  bench().ClearTrace();
  for (uint16_t n : {0, 1, 4, 0xFFFF}) {
    c = ConfigOf(n);
    EXPECT_EQ(c.status, DREMOR_ERR_BOARD_RANGE) << n;
    EXPECT_EQ(c.io, kUntouched);
    EXPECT_EQ(c.dio, kUntouched);
    EXPECT_EQ(c.ad, kUntouched);
  }
  EXPECT_TRUE(bench().trace().empty());
}

TEST_F(DremorTest, NoLazyScanAfterAFailedInitOrAfterClose) {
  Boards({{0, 7, 0}});
  bench().PortAccessDriver().SetRefuseOpen(true);
  ASSERT_EQ(Init(), DREMOR_ERR_NO_DRIVER);
  EXPECT_EQ(ConfigOf(0).status, DREMOR_ERR_LAZY_NO_BOARD);
  api.VARNO_DriverClose();
  EXPECT_EQ(ConfigOf(0).status, DREMOR_ERR_LAZY_NO_BOARD);
  EXPECT_TRUE(bench().trace().empty());
}

// ---- Board selection ----------------------------------------------------------------------

TEST_F(DremorTest, SelectingBoardTwoResetsItThenRebindsTheInterruptDevice) {
  auto boards = Boards({{0, 7, 0}, {0, 8, 0}, {0, 9, 0}});
  ASSERT_EQ(Init(), DREMOR_OK);
  // Board 2 reset (its blocks at 0xD200 and 0xE200), then its device opened.
  auto selectBoardTwo = [&] {
    bench().ClearTrace();
    bench().ClearOpens();
    EXPECT_EQ(api.VARNO_ActiveBoard(2), DREMOR_OK);
    EXPECT_EQ(NamedTrace(), ResetSequence(0xD200, 0xE200));
    EXPECT_EQ(OpenNames(), std::vector<std::string>{Varno(2)});
  };
  selectBoardTwo();
  EXPECT_EQ(bench().sleepCalls(), 1u);
  EXPECT_EQ(bench().sleptMs(), 100u);
  EXPECT_EQ(bench().VarnoDevice(0)->openHandles(), 0u) << "the old device handle was closed";
  EXPECT_EQ(bench().VarnoDevice(2)->openHandles(), 1u);
  EXPECT_EQ(api.VARNO_WhichBoardActive(), 2);
  uint16_t irq = 0;
  api.VARNO_GetIrqNo(&irq);
  EXPECT_EQ(irq, 7);

  // The board is quiet; the other boards were not touched.
  const MultifunctionBoard& b = *boards[2];
  EXPECT_EQ(b.interruptControl(), 0x00);
  EXPECT_EQ(b.writeCount(VarnoRegister::kInterruptControl), 1u);
  EXPECT_EQ(b.writeCount(VarnoRegister::kGainControl), 0u);
  EXPECT_EQ(b.writeCount(VarnoRegister::kAdModeControl), 0u);
  EXPECT_EQ(b.writeCount(VarnoRegister::kDigitalIo), 0u);
  EXPECT_EQ(b.unclaimedAccesses(), 0u);
  for (int i : {0, 1}) {
    EXPECT_EQ(boards[i]->writeCount(VarnoRegister::kInterruptControl), 0u);
    EXPECT_EQ(boards[i]->writeCount(VarnoRegister::kCounterControl), 0u);
  }

  // The same board again: everything once more, the re-open included (it
  // succeeds only because the exclusive device was closed first).
  selectBoardTwo();
  EXPECT_EQ(bench().OpenHandleCount(), 2u);
}

TEST_F(DremorTest, OnlyTheLow16BitsOfTheBoardSlotCount) {
  Boards({{0, 7, 0}, {0, 8, 0}});
  ASSERT_EQ(Init(), DREMOR_OK);
  using Slot = uint32_t(DREMOR_CALL*)(uint32_t);
  auto activeBoard = SlotCast<Slot>(api.VARNO_ActiveBoard);
  const struct {
    uint32_t slot;
    uint16_t status, active;
  } cases[] = {
      {0x00010001u, DREMOR_OK, 1},
      {0xFFFF0000u, DREMOR_OK, 0},
      {0x12340001u, DREMOR_OK, 1},
      {0x00000002u, DREMOR_ERR_BOARD_RANGE, 1},
      {0x0001FFFFu, DREMOR_ERR_BOARD_RANGE, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(uint16_t(activeBoard(c.slot)), c.status) << std::hex << c.slot;
    EXPECT_EQ(api.VARNO_WhichBoardActive(), c.active) << std::hex << c.slot;
  }
}

TEST_F(DremorTest, OutOfRangeSelectionChangesNothing) {
  auto boards = Boards({{0, 7, 0}, {0, 8, 0}});
  EXPECT_EQ(api.VARNO_WhichBoardActive(), 0);
  EXPECT_EQ(api.VARNO_ActiveBoard(0), DREMOR_ERR_BOARD_RANGE) << "nothing found yet";
  ASSERT_EQ(Init(), DREMOR_OK);
  ASSERT_EQ(api.VARNO_ActiveBoard(1), DREMOR_OK);
  bench().ClearTrace();
  bench().ClearOpens();
  const unsigned sleeps = bench().sleepCalls();
  for (uint16_t n : {2, 3, 4, 100, 0xFFFF}) {
    EXPECT_EQ(api.VARNO_ActiveBoard(n), DREMOR_ERR_BOARD_RANGE) << n;
    EXPECT_EQ(api.VARNO_WhichBoardActive(), 1);
  }
  uint16_t irq = 0;
  api.VARNO_GetIrqNo(&irq);
  EXPECT_EQ(irq, 6);
  EXPECT_TRUE(bench().trace().empty());
  EXPECT_TRUE(bench().opens().empty());
  EXPECT_EQ(bench().sleepCalls(), sleeps);
  EXPECT_EQ(bench().VarnoDevice(1)->openHandles(), 1u);
}

TEST_F(DremorTest, NewBoardStaysActiveWhenItsInterruptDeviceCannotBeOpened) {
  Boards({{0, 7, 0}, {0, 8, 0}, {0, 9, 0}});
  bench().VarnoDevice(2)->SetRefuseOpen(true);
  ASSERT_EQ(Init(), DREMOR_OK);
  bench().ClearTrace();
  EXPECT_EQ(api.VARNO_ActiveBoard(2), DREMOR_ERR_NO_INTERRUPT_DEVICE);
  EXPECT_EQ(api.VARNO_WhichBoardActive(), 2);
  EXPECT_EQ(NamedTrace(), ResetSequence(0xD200, 0xE200)) << "the board is reset all the same";
  EXPECT_EQ(bench().VarnoDevice(0)->openHandles(), 0u);

  // No device held: requests fail without reaching any handle, and close
  // answers 0 for it.
  bench().ClearIoControls();
  uint16_t version = kUntouched;
  EXPECT_EQ(api.VARNO_GetDriverVersion(&version), DREMOR_ERR_DRIVER_VERSION);
  EXPECT_EQ(version, DREMOR_NO_DRIVER_VERSION);
  EXPECT_TRUE(bench().ioControls().empty());
  EXPECT_EQ(api.VARNO_DriverClose(), 0);
  EXPECT_EQ(bench().OpenHandleCount(), 0u);
}

TEST_F(DremorTest, SelectionWithoutPortAccessTouchesNoPort) {
  auto boards = Boards({{0, 7, 0}, {0, 8, 0}});
  ASSERT_EQ(Init(), DREMOR_OK);
  ASSERT_NE(api.VARNO_DriverClose(), 0);
  bench().ClearTrace();
  bench().ClearOpens();

  // After close: the selection is recorded and the device re-bound, but the
  // board cannot be reset without port access.
  EXPECT_EQ(api.VARNO_ActiveBoard(1), DREMOR_OK);
  EXPECT_TRUE(bench().trace().empty());
  EXPECT_EQ(api.VARNO_WhichBoardActive(), 1);
  uint16_t irq = 0;
  api.VARNO_GetIrqNo(&irq);
  EXPECT_EQ(irq, 6);
  EXPECT_EQ(OpenNames(), std::vector<std::string>{Varno(1)});
  EXPECT_EQ(bench().sleptMs(), 100u);

  // After an init that could not open kelvra: the same.
  bench().PortAccessDriver().SetRefuseOpen(true);
  ASSERT_EQ(Init(), DREMOR_ERR_NO_DRIVER);
  EXPECT_EQ(api.VARNO_ActiveBoard(0), DREMOR_OK);
  EXPECT_TRUE(bench().trace().empty());
  EXPECT_EQ(boards[0]->writeCount(VarnoRegister::kInterruptControl), 0u);
  EXPECT_NE(api.VARNO_DriverClose(), 0);
  EXPECT_EQ(bench().OpenHandleCount(), 0u);
}

// A board selected without port access is owed its reset: once port access
// is back, the reset runs right before the library's first access to the
// board, whatever that access is, and only once.
TEST_F(DremorTest, ABoardSelectedWithoutPortAccessIsResetBeforeItIsFirstDriven) {
  const struct {
    const char* what;
    std::function<void(DremorApi&)> firstUse;
    size_t ownAccesses;  // what the call itself makes after the reset
  } uses[] = {
      {"VARNO_Do", [](DremorApi& api) { api.VARNO_Do(0x55AA); }, 1},
      {"VARNO_SetupTimer", [](DremorApi& api) { api.VARNO_SetupTimer(1, 4000); }, 3},
      {"VARNO_Polling", [](DremorApi& api) {
         uint16_t code = 0;
         EXPECT_EQ(api.VARNO_Polling(&code), DREMOR_OK);
       }, 0},
      {"VARNO_INT_AdStart", [](DremorApi& api) { EXPECT_EQ(api.VARNO_INT_AdStart(0, 0, 400), DREMOR_OK); }, 0},
  };
  for (const auto& use : uses) {
    SCOPED_TRACE(use.what);
    bench().Reset();
    Reload();
    auto boards = Boards({{0, 7, 0}, {0, 8, 0}});
    ASSERT_EQ(Init(), DREMOR_OK);
    ASSERT_NE(api.VARNO_DriverClose(), 0);
    ASSERT_EQ(api.VARNO_ActiveBoard(1), DREMOR_OK);
    ASSERT_EQ(Init(), DREMOR_OK);
    ASSERT_TRUE(bench().trace().size() > 0);  // the scan
    bench().ClearTrace();
    use.firstUse(api);
    const std::vector<Named> reset = ResetSequence(0xD100, 0xE100);
    const std::vector<Named> trace = NamedTrace();
    ASSERT_GE(trace.size(), reset.size());
    EXPECT_EQ(std::vector<Named>(trace.begin(), trace.begin() + reset.size()), reset);
    if (use.ownAccesses) {
      EXPECT_EQ(trace.size(), reset.size() + use.ownAccesses);
    }
    EXPECT_EQ(boards[0]->writeCount(VarnoRegister::kInterruptControl), 0u) << "only the active board";

    // Paid once: the next access is the call's own.
    bench().ClearTrace();
    api.VARNO_Do(0x0001);
    EXPECT_EQ(NamedTrace(), (std::vector<Named>{Named{Out(2, 0xE120, 0x0001), "DigitalIo"}}));
  }
}

// ---- Arithmetic and versions ------------------------------------------------------------------

TEST_F(DremorTest, ArithmeticAndDllVersionTouchNothing) {
  ExpectTheArithmeticExports(api.VARNO_FloatSub, api.VARNO_ShortSub);
  EXPECT_EQ(api.VARNO_GetDllVersion(), 0x0300);
  EXPECT_TRUE(bench().opens().empty());
  EXPECT_TRUE(bench().trace().empty());
}

}  // namespace
}  // namespace daqtest
