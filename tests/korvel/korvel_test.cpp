// Behaviour of Korvel on the simulated bench, called across the library
// boundary. Each test loads the library afresh, so its state starts at the
// load values (ActiveIndex 100, nothing found, no handle).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "korvel_fixture.h"

namespace daqtest {
namespace {

TEST_F(KorvelTest, ScanMakesExactlyTheSelectsAndReadsOfTheBusWalk) {
  bench().AddStockPcDevices();
  const PciLocation korvelAt{0, 5, 0}, lumarAt{2, 1, 0};
  bench().AddRelayBoard(RelayModel::kKorvel, korvelAt, RelayBars(0xE100), 11);
  bench().AddRelayBoard(RelayModel::kLumar, lumarAt, RelayBars(0xD100), 10);

  EXPECT_EQ(Init(), KORVEL_OK);
  EXPECT_EQ(lastCount, 2);

  const auto trace = Accesses(bench().trace());
  EXPECT_EQ(trace, ExpectedBusWalk({korvelAt, lumarAt}, kRelayBoardRegisters));
  unsigned selects = 0, reads16 = 0, reads32 = 0;
  for (const auto& a : trace) {
    selects += a.dir == daqsim::AccessDir::kWrite && a.width == 4 && a.port == 0xCF8;
    reads16 += a.dir == daqsim::AccessDir::kRead && a.width == 2;
    reads32 += a.dir == daqsim::AccessDir::kRead && a.width == 4;
  }
  EXPECT_EQ(selects, 320u + 12u);
  EXPECT_EQ(reads16, 640u);
  EXPECT_EQ(reads32, 12u);
  EXPECT_EQ(trace.size(), 320u * 3 + 12u * 2);
}

TEST_F(KorvelTest, BoardsAreNumberedInScanOrderAndReportKindFirst) {
  bench().AddStockPcDevices();
  // Added out of scan order on purpose: bus 2 first, then bus 0.
  bench().AddRelayBoard(RelayModel::kLumar, PciLocation{2, 1, 0}, RelayBars(0xD100), 10);
  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0}, RelayBars(0xE100), 11);
  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 9, 0}, RelayBars(0xC100), 5);

  ASSERT_EQ(Init(), KORVEL_OK);
  EXPECT_EQ(lastCount, 3);
  const struct {
    uint16_t kind;
    uint16_t block;
  } expected[] = {{kKindKorvel, 0xE100}, {kKindKorvel, 0xC100}, {kKindLumar, 0xD100}};
  for (uint16_t n = 0; n < 3; ++n) {
    const Board b = Config(n);
    ASSERT_EQ(b.status, KORVEL_OK) << "board " << n;
    EXPECT_EQ(b.kind, expected[n].kind) << "board " << n;
    EXPECT_EQ(b.base[0], 0x0000) << "memory BAR 0xFEBF0000 reads as 0";
    EXPECT_EQ(b.base[1], expected[n].block - 0x80);
    EXPECT_EQ(b.base[2], expected[n].block);
    EXPECT_EQ(b.base[3], 0);
    EXPECT_EQ(b.base[4], 0);
    EXPECT_EQ(b.base[5], 0);
  }
}

TEST_F(KorvelTest, BaseWordsAreTheRegisterAndedWithFFFE) {
  RelayBoard& board = bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 4, 0});
  const uint32_t raw[6] = {0x0000E001, 0x0000E003, 0x0001A001, 0x00000000, 0xFEBF0000, 0xFFFFFFFF};
  const uint16_t want[6] = {0xE000, 0xE002, 0xA000, 0x0000, 0x0000, 0xFFFE};
  for (unsigned i = 0; i < 6; ++i) board.PokeConfigDword(0x10 + 4 * i, raw[i]);

  ASSERT_EQ(Init(), KORVEL_OK);
  const Board b = Config(0);
  ASSERT_EQ(b.status, KORVEL_OK);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(b.base[i], want[i]) << "BAR" << i << " = 0x" << std::hex << raw[i];
}

TEST_F(KorvelTest, OnlyTheTwoModelsAtFunctionZeroOnBusesZeroToNineAreFound) {
  bench().AddStockPcDevices();
  const std::vector<FunctionAt> others = {
      {{10, 0, 0}, 0x1234, 0x5C21},   // bus 10 is not scanned
      {{255, 31, 0}, 0x1234, 0x5C22},
      {{0, 7, 1}, 0x1234, 0x5C21},    // function 1 of a device is never looked at
      {{0, 8, 0}, 0x1234, 0x5C2A},    // the multifunction board
      {{0, 9, 0}, 0x1234, 0x5C20},
      {{0, 10, 0}, 0x4321, 0x5C21},   // right device ID, wrong vendor
  };
  AddFunctions(others, RelayBars(0xB100));
  EXPECT_EQ(Init(), KORVEL_ERR_NO_BOARD);
  EXPECT_EQ(lastCount, 0) << "the count is written also when no board is found";
  EXPECT_EQ(Config(0).status, KORVEL_ERR_LAZY_NO_BOARD);
}

TEST_F(KorvelTest, SixteenBoardsAreRecordedAndNoMore) {
  for (uint8_t dev = 0; dev < 20; ++dev) {
    bench().AddRelayBoard(dev % 2 ? RelayModel::kLumar : RelayModel::kKorvel, PciLocation{1, dev, 0},
                          RelayBars(0x8000 + 0x100 * dev), 11);
  }
  ASSERT_EQ(Init(), KORVEL_OK);
  EXPECT_EQ(lastCount, KORVEL_MAX_BOARDS);
  for (uint16_t n = 0; n < 16; ++n) {
    const Board b = Config(n);
    ASSERT_EQ(b.status, KORVEL_OK);
    EXPECT_EQ(b.base[2], 0x8000 + 0x100 * n);
    EXPECT_EQ(b.kind, n % 2);
  }
  EXPECT_EQ(Config(16).status, KORVEL_ERR_BOARD_RANGE);
}

TEST_F(KorvelTest, FailedOpenReturnsOneTouchesNoPortAndLeavesTheCount) {
  for (int mode = 0; mode < 2; ++mode) {
    SCOPED_TRACE(mode == 0 ? "driver not installed" : "driver refuses the open");
    bench().Reset();
    bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0});
    if (mode == 0) bench().PortAccessDriver().SetInstalled(false);
    if (mode == 1) bench().PortAccessDriver().SetRefuseOpen(true);
    EXPECT_EQ(Init(), KORVEL_ERR_NO_DRIVER);
    EXPECT_EQ(lastCount, kUntouched);
    EXPECT_TRUE(bench().trace().empty());
    EXPECT_EQ(Config(0).status, KORVEL_ERR_LAZY_NO_BOARD) << "no lazy scan without port access";
    EXPECT_TRUE(bench().trace().empty());
    EXPECT_EQ(api.PCI_DriverClose(), 0) << "nothing was opened";
    EXPECT_EQ(bench().badCloses(), 0u) << "INVALID_HANDLE_VALUE must not be closed";
  }
}

TEST_F(KorvelTest, DriverIsOpenedWithTheDocumentedArguments) {
  ASSERT_EQ(Init(), KORVEL_ERR_NO_BOARD);
  ASSERT_EQ(bench().opens().size(), 1u);
  const daqsim::OpenRecord& o = bench().opens()[0];
  EXPECT_EQ(o.name, kKelvra);
  EXPECT_EQ(o.desiredAccess, 0x80000000u);
  EXPECT_EQ(o.shareMode, 0u);
  EXPECT_EQ(o.creationDisposition, 3u);
  EXPECT_EQ(o.flagsAndAttributes, 0x80u);
}

TEST_F(KorvelTest, LazyScanRunsOnlyUntilABoardWasEverRecorded) {
  // No driver init yet: no port access, so no scan and status 4.
  EXPECT_EQ(Config(0).status, KORVEL_ERR_LAZY_NO_BOARD);
  EXPECT_TRUE(bench().trace().empty());

  ASSERT_EQ(Init(), KORVEL_ERR_NO_BOARD);
  // A board appears; the next query scans by itself and finds it.
  bench().AddRelayBoard(RelayModel::kLumar, PciLocation{3, 2, 0}, RelayBars(0xD100), 10);
  bench().ClearTrace();
  Board b = Config(0);
  EXPECT_EQ(b.status, KORVEL_OK);
  EXPECT_EQ(b.kind, kKindLumar);
  EXPECT_EQ(bench().trace().size(), 320u * 3 + 12u);

  // From then on it never rescans: a board added later stays unknown.
  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 2, 0}, RelayBars(0xE100), 11);
  bench().ClearTrace();
  EXPECT_EQ(Config(1).status, KORVEL_ERR_BOARD_RANGE);
  EXPECT_TRUE(bench().trace().empty());
}

TEST_F(KorvelTest, RescanFindingNothingGivesFiveNotFourWithoutScanning) {
  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0});
  ASSERT_EQ(Init(), KORVEL_OK);
  ASSERT_TRUE(bench().Remove(PciLocation{0, 5, 0}));
  EXPECT_EQ(Init(), KORVEL_ERR_NO_BOARD);
  EXPECT_EQ(lastCount, 0);
  bench().ClearTrace();
  for (uint16_t n : {0, 1, 15, 0xFFFF}) EXPECT_EQ(Config(n).status, KORVEL_ERR_BOARD_RANGE) << n;
  EXPECT_TRUE(bench().trace().empty());
}

TEST_F(KorvelTest, EveryInitRenumbersFromZero) {
  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0}, RelayBars(0xE100), 11);
  bench().AddRelayBoard(RelayModel::kLumar, PciLocation{0, 6, 0}, RelayBars(0xD100), 10);
  ASSERT_EQ(Init(), KORVEL_OK);
  ASSERT_EQ(api.PCI_ActiveBoard(1), KORVEL_OK);
  bench().Remove(PciLocation{0, 5, 0});
  ASSERT_EQ(Init(), KORVEL_OK);
  EXPECT_EQ(lastCount, 1);
  const Board b = Config(0);
  EXPECT_EQ(b.kind, kKindLumar);
  EXPECT_EQ(b.base[2], 0xD100);
  EXPECT_EQ(Config(1).status, KORVEL_ERR_BOARD_RANGE);
  EXPECT_EQ(api.PCI_WhichBoardActive(), 1) << "a scan does not reset the active board number";
}

TEST_F(KorvelTest, OutOfRangeBoardLeavesAllSevenOutputsUntouched) {
  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0});
  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 6, 0});
  ASSERT_EQ(Init(), KORVEL_OK);
  for (uint16_t n : {2, 3, 16, 100, 0xFFFF}) {
    const Board b = Config(n);
    EXPECT_EQ(b.status, KORVEL_ERR_BOARD_RANGE) << n;
    EXPECT_EQ(b.kind, kUntouched);
    for (uint16_t w : b.base) EXPECT_EQ(w, kUntouched);
  }
}

TEST_F(KorvelTest, ActiveBoardOnlyRecordsAcceptedNumbers) {
  EXPECT_EQ(api.PCI_WhichBoardActive(), KORVEL_NO_ACTIVE_BOARD);
  EXPECT_EQ(api.PCI_ActiveBoard(0), KORVEL_ERR_BOARD_RANGE) << "no board known yet";
  EXPECT_EQ(api.PCI_WhichBoardActive(), KORVEL_NO_ACTIVE_BOARD);

  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0});
  bench().AddRelayBoard(RelayModel::kLumar, PciLocation{0, 6, 0});
  ASSERT_EQ(Init(), KORVEL_OK);
  bench().ClearTrace();
  EXPECT_EQ(api.PCI_ActiveBoard(1), KORVEL_OK);
  EXPECT_EQ(api.PCI_WhichBoardActive(), 1);
  EXPECT_EQ(api.PCI_ActiveBoard(2), KORVEL_ERR_BOARD_RANGE);
  EXPECT_EQ(api.PCI_WhichBoardActive(), 1);
  EXPECT_TRUE(bench().trace().empty()) << "selection touches no port";

  // Only the low 16 bits of the argument slot count.
  using Slot = uint16_t(KORVEL_CALL*)(uint32_t);
  auto activeBoard = SlotCast<Slot>(api.PCI_ActiveBoard);
  EXPECT_EQ(activeBoard(0xFFFF0000u), KORVEL_OK);
  EXPECT_EQ(api.PCI_WhichBoardActive(), 0);
  EXPECT_EQ(activeBoard(0x00010001u), KORVEL_OK);
  EXPECT_EQ(api.PCI_WhichBoardActive(), 1);
}

// One row per I/O export call: what the bus must see, and what comes back.
TEST_F(KorvelTest, EachIoExportIsExactlyOnePortAccessOfItsWidth) {
  auto [korvel, lumar] = InitWithBothModels(0x8421, 0xC3);
  const uint16_t kOut = korvel.OutputPort(), kIn = korvel.InputPort();
  const uint16_t lOut = lumar.OutputPort(), lIn = lumar.InputPort();

  // Each row is one call; after it the bus has seen exactly its one access,
  // an input has returned what the port delivered, and the relays are as
  // given. The library never checks the model: an 8-bit write to a KORVEL
  // output changes its low byte only; a port no board decodes is accessed
  // all the same.
  const struct {
    const char* what;
    std::function<uint32_t()> call;
    Access access;
    uint16_t korvelRelays, lumarRelays;
  } rows[] = {
      {"KORVEL_DO", [&] { return api.KORVEL_DO(kOut, 0xA55A), 0u; }, Out(2, kOut, 0xA55A), 0xA55A, 0},
      {"KORVEL_DI", [&] { return uint32_t(api.KORVEL_DI(kIn)); }, In(2, kIn, 0x8421), 0xA55A, 0},
      {"KORVEL_DI of the output register: the relay states", [&] { return uint32_t(api.KORVEL_DI(kOut)); },
       In(2, kOut, 0xA55A), 0xA55A, 0},
      {"LUMAR_DO", [&] { return api.LUMAR_DO(lOut, 0x81), 0u; }, Out(1, lOut, 0x81), 0xA55A, 0x81},
      {"LUMAR_DI", [&] { return uint32_t(api.LUMAR_DI(lIn)); }, In(1, lIn, 0xC3), 0xA55A, 0x81},
      {"LUMAR_DO at a KORVEL output", [&] { return api.LUMAR_DO(kOut, 0x0F), 0u; }, Out(1, kOut, 0x0F), 0xA50F,
       0x81},
      {"KORVEL_DI where no board decodes", [&] { return uint32_t(api.KORVEL_DI(0x0300)); }, In(2, 0x0300, 0xFFFF),
       0xA50F, 0x81},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    bench().ClearTrace();
    const uint32_t result = row.call();
    EXPECT_EQ(Accesses(bench().trace()), std::vector<Access>{row.access});
    if (row.access.dir == daqsim::AccessDir::kRead) {
      EXPECT_EQ(result, row.access.value);
    }
    EXPECT_EQ(korvel.outputs(), row.korvelRelays);
    EXPECT_EQ(lumar.outputs(), row.lumarRelays);
  }
}

TEST_F(KorvelTest, IoExportsUseOnlyTheLowBitsOfEachArgumentSlot) {
  auto [korvel, lumar] = InitWithBothModels(0x1357, 0x9A);
  using Do = void(KORVEL_CALL*)(uint32_t, uint32_t);
  using Di = uint32_t(KORVEL_CALL*)(uint32_t);
  const uint16_t kOut = korvel.OutputPort(), lOut = lumar.OutputPort();

  bench().ClearTrace();
  SlotCast<Do>(api.KORVEL_DO)(0xDEAD0000u | kOut, 0xBEEF0000u | 0x1234u);
  SlotCast<Do>(api.LUMAR_DO)(0xDEAD0000u | lOut, 0xBEEFCD00u | 0x5Au);
  const uint16_t kIn16 = uint16_t(SlotCast<Di>(api.KORVEL_DI)(0xFFFF0000u | korvel.InputPort()));
  const uint8_t lIn8 = uint8_t(SlotCast<Di>(api.LUMAR_DI)(0x12340000u | lumar.InputPort()));
  EXPECT_EQ(Accesses(bench().trace()),
            (std::vector<Access>{Out(2, kOut, 0x1234), Out(1, lOut, 0x5A), In(2, korvel.InputPort(), 0x1357),
                                 In(1, lumar.InputPort(), 0x9A)}));
  EXPECT_EQ(kIn16, 0x1357);
  EXPECT_EQ(lIn8, 0x9A);
  EXPECT_EQ(korvel.outputs(), 0x1234);
  EXPECT_EQ(lumar.outputs(), 0x5A);
}

TEST_F(KorvelTest, IoExportsMakeNoPortAccessWhileTheDriverIsNotHeld) {
  RelayBoard& korvel = bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0});
  korvel.SetInputs(0x0001);
  const uint16_t port = korvel.OutputPort();
  auto expectInert = [&](const char* when) {
    SCOPED_TRACE(when);
    bench().ClearTrace();
    api.KORVEL_DO(port, 0xFFFF);
    api.LUMAR_DO(port, 0xFF);
    EXPECT_EQ(api.KORVEL_DI(korvel.InputPort()), 0xFFFF);
    EXPECT_EQ(api.LUMAR_DI(korvel.InputPort()), 0xFF);
    EXPECT_TRUE(bench().trace().empty());
    EXPECT_EQ(korvel.outputs(), 0x0000);
  };
  expectInert("before any init");
  bench().PortAccessDriver().SetRefuseOpen(true);
  ASSERT_EQ(Init(), KORVEL_ERR_NO_DRIVER);
  expectInert("after a failed init");
  bench().PortAccessDriver().SetRefuseOpen(false);
  ASSERT_EQ(Init(), KORVEL_OK);
  EXPECT_EQ(api.KORVEL_DI(korvel.InputPort()), 0x0001);
  ASSERT_NE(api.PCI_DriverClose(), 0);
  expectInert("after close");
}

TEST_F(KorvelTest, RepeatedInitClosesTheHandleItHeld) {
  // An exclusive driver refuses a second open while the first handle is held.
  bench().PortAccessDriver().SetExclusive(true);
  bench().AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0});
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Init(), KORVEL_OK) << "init #" << i;
    EXPECT_EQ(bench().PortAccessDriver().openHandles(), 1u);
  }
  EXPECT_EQ(bench().OpenHandleCount(), 1u);
  EXPECT_NE(api.PCI_DriverClose(), 0);
  EXPECT_EQ(bench().OpenHandleCount(), 0u);
}

TEST_F(KorvelTest, CloseForgetsTheHandleSoAStaleValueIsNeverClosed) {
  auto other = std::make_unique<daqsim::KernelDevice>("\\\\.\\appdevice");
  daqsim::KernelDevice& app = bench().AddKernelDevice(std::move(other));

  EXPECT_EQ(api.PCI_DriverClose(), 0) << "nothing held before any init";
  ASSERT_EQ(Init(), KORVEL_ERR_NO_BOARD);
  const uintptr_t held = bench().opens().back().result;
  EXPECT_NE(api.PCI_DriverClose(), 0);

  // The application opens something else and, handle tables being what they
  // are, gets the value the library held.
  const uintptr_t appHandle = bench().OpenDevice("\\\\.\\appdevice", 0x80000000u, 0, 3, 0x80);
  ASSERT_EQ(appHandle, held);
  EXPECT_EQ(api.PCI_DriverClose(), 0);
  EXPECT_EQ(app.openHandles(), 1u) << "the application's handle was closed by the library";
  EXPECT_EQ(bench().badCloses(), 0u);
  bench().CloseHandle(appHandle);
}

TEST_F(KorvelTest, ArithmeticAndVersionExports) {
  ExpectTheArithmeticExports(api.PCI_FloatSub2, api.PCI_ShortSub2);

  EXPECT_EQ(api.PCI_GetDllVersion(), 0x0201);
  uint16_t version = 0;
  EXPECT_EQ(api.PCI_GetDriverVersion(&version), KORVEL_OK);
  EXPECT_EQ(version, 0x0210);
  EXPECT_TRUE(bench().opens().empty()) << "the driver version is a constant";
  EXPECT_TRUE(bench().trace().empty());
}

// On a Linux host (modelled by the bench) holding "\\.\kelvra" gives only
// the ports a library asks for: Korvel asks for all of them, since its I/O
// exports take any port the application names; if that is refused, the open
// has failed.
TEST_F(KorvelTest, OnLinuxTheLibraryAsksForTheWholePortSpace) {
  bench().SetHost(Bench::Host::kLinux);
  auto [korvel, lumar] = InitWithBothModels(0x8421, 0xC3);
  ASSERT_EQ(bench().allowedRanges().size(), 1u);
  EXPECT_EQ(bench().allowedRanges()[0].first, 0);
  EXPECT_EQ(bench().allowedRanges()[0].count, 0x10000u);
  api.KORVEL_DO(korvel.OutputPort(), 0xA55A);
  EXPECT_EQ(korvel.outputs(), 0xA55A);
  EXPECT_EQ(api.LUMAR_DI(lumar.InputPort()), 0xC3);
  EXPECT_EQ(api.KORVEL_DI(0x0300), 0xFFFF) << "a port no board decodes, accessed all the same";
}

}  // namespace
}  // namespace daqtest
