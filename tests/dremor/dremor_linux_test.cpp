// Dremor on a Linux host, modelled by the bench: no interrupt driver by
// design, and port access only for the ports the library asks for (the bench
// records any other access as a fault, which the fixture checks after every
// test). Discovery, selection, the timer, the digital port and polled and
// pacer-clocked conversion work; the background-acquisition calls answer as
// for a missing interrupt device and touch nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dremor_fixture.h"

namespace daqtest {
namespace {

class DremorOnLinuxTest : public DremorTest {
 protected:
  void SetUp() override {
    DremorTest::SetUp();
    bench().SetHost(Bench::Host::kLinux);
  }
  static std::vector<std::pair<uint16_t, uint32_t>> Ranges() {
    std::vector<std::pair<uint16_t, uint32_t>> out;
    for (const auto& r : bench().allowedRanges()) out.emplace_back(r.first, r.count);
    return out;
  }
};

TEST_F(DremorOnLinuxTest, InitOpensOnlyThePortAccessDeviceAndAsksForEachBoardsBlocks) {
  Boards({{1, 4, 0}, {0, 9, 0}});  // boards 0xD000/0xE000 at 1:04, 0xD100/0xE100 at 0:09
  EXPECT_EQ(Init(), DREMOR_OK);
  EXPECT_EQ(lastCount, 2);
  EXPECT_EQ(OpenNames(), std::vector<std::string>{kKelvra}) << "no interrupt device to open";
  EXPECT_EQ(Accesses(bench().trace()), ExpectedBusWalk({{0, 9, 0}, {1, 4, 0}}, kVarnoBoardRegisters));
  // In scan order: the bridge block (128 ports) and the board block (64).
  EXPECT_EQ(Ranges(), (std::vector<std::pair<uint16_t, uint32_t>>{
                          {0xD100, 0x80}, {0xE100, 0x40}, {0xD000, 0x80}, {0xE000, 0x40}}));
}

TEST_F(DremorOnLinuxTest, APortAccessDeviceThatCannotBeOpenedGivesStatusOne) {
  Boards({{0, 7, 0}});
  bench().PortAccessDriver().SetRefuseOpen(true);
  EXPECT_EQ(Init(), DREMOR_ERR_NO_DRIVER) << "not 101: the platform has no interrupt device";
  EXPECT_EQ(lastCount, kUntouched);
  EXPECT_EQ(OpenNames(), std::vector<std::string>{kKelvra});
  EXPECT_TRUE(bench().trace().empty());
}

TEST_F(DremorOnLinuxTest, TheBoardIsDrivenThroughItsPortsAndTheInterruptCallsTouchNothing) {
  MultifunctionBoard& board = *Boards({{0, 7, 0}})[0];
  board.SetSignal(2, daqsim::Signal::Dc(1.25));
  board.SetDigitalInputs(0xA5C3);
  ASSERT_EQ(Init(), DREMOR_OK);
  bench().ClearTrace();

  // Selection: the reset, and neither a re-open nor the pause for it.
  EXPECT_EQ(api.VARNO_ActiveBoard(0), DREMOR_OK);
  EXPECT_EQ(NamedTrace(), ResetSequence(0xD000, 0xE000));
  EXPECT_EQ(bench().sleepCalls(), 0u);
  EXPECT_EQ(OpenNames(), std::vector<std::string>{kKelvra});

  api.VARNO_Do(0x1234);
  EXPECT_EQ(board.digitalOutputs(), 0x1234);
  uint16_t inputs = 0;
  EXPECT_EQ(api.VARNO_Di(&inputs), DREMOR_OK);
  EXPECT_EQ(inputs, 0xA5C3);
  api.VARNO_SetupTimer(1, 4000);
  EXPECT_FALSE(board.timer().Parked(1));

  EXPECT_EQ(api.VARNO_SetChannelConfig(2, 1), DREMOR_OK);  // +-5 V
  float volts = 0;
  EXPECT_EQ(api.VARNO_AdPolling(&volts), DREMOR_OK);
  EXPECT_EQ(volts, 1.25f);
  uint16_t codes[8] = {};
  EXPECT_EQ(api.VARNO_AdsPacerHex(codes, 8, 400), DREMOR_OK);
  for (uint16_t c : codes) EXPECT_EQ(c, 2560) << "1.25 V on +-5 V";

  // Background acquisition needs the interrupt driver: each call answers as
  // for a missing device, sends nothing and touches no port.
  bench().ClearTrace();
  uint32_t user = 0, ints = 0xDEADBEEFu;
  uint16_t words[2] = {kUntouched, kUntouched};
  float v[2] = {UntouchedFloat(), UntouchedFloat()};
  uint16_t version = kUntouched;
  EXPECT_EQ(api.VARNO_InstallIrq(&user, 0), DREMOR_ERR_INSTALL_IRQ);
  EXPECT_EQ(api.VARNO_INT_AdStart(2, 1, 400), DREMOR_ERR_INTERRUPT_REQUEST);
  EXPECT_EQ(api.VARNO_INT_AdStop(), DREMOR_ERR_INTERRUPT_REQUEST);
  EXPECT_EQ(api.VARNO_GetIntCount(&ints), DREMOR_ERR_INTERRUPT_REQUEST);
  EXPECT_EQ(api.VARNO_GetBuffer(2, words), DREMOR_ERR_INTERRUPT_REQUEST);
  EXPECT_EQ(api.VARNO_GetFloatBuffer(2, v), DREMOR_ERR_INTERRUPT_REQUEST);
  EXPECT_EQ(api.VARNO_GetDriverVersion(&version), DREMOR_ERR_DRIVER_VERSION);
  EXPECT_EQ(version, DREMOR_NO_DRIVER_VERSION);
  EXPECT_TRUE(bench().trace().empty());
  EXPECT_TRUE(bench().ioControls().empty());
  EXPECT_EQ(ints, 0xDEADBEEFu);
  EXPECT_EQ(words[0], kUntouched);
  EXPECT_EQ(Bits(v[0]), kFloatUntouched);
  EXPECT_EQ(board.interruptControl(), 0x00) << "the board interrupt was never enabled";

  // Close answers for the port-access device, the one it held.
  EXPECT_NE(api.VARNO_DriverClose(), 0);
  EXPECT_EQ(bench().OpenHandleCount(), 0u);
  EXPECT_EQ(api.VARNO_DriverClose(), 0);
}

TEST_F(DremorOnLinuxTest, ABlockThatRunsPastTheTopOfThePortSpaceIsAskedForInTwoRanges) {
  MultifunctionBoard& board = *Boards({{0, 7, 0}})[0];
  board.PokeConfigDword(0x18, 0x0000FFE1);  // board block at 0xFFE0: DigitalIo wraps to 0x0000
  ASSERT_EQ(Init(), DREMOR_OK);
  EXPECT_EQ(Ranges(), (std::vector<std::pair<uint16_t, uint32_t>>{{0xD000, 0x80}, {0xFFE0, 0x20}, {0x0000, 0x20}}));
  ASSERT_EQ(api.VARNO_ActiveBoard(0), DREMOR_OK);
  bench().ClearTrace();
  api.VARNO_Do(0x00FF);
  EXPECT_EQ(Accesses(bench().trace()), std::vector<Access>{Out(2, 0x0000, 0x00FF)})
      << "the wrapped port was granted, so this is no fault";
}

}  // namespace
}  // namespace daqtest
