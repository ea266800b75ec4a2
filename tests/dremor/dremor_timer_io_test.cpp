// Dremor's 8254 counters and digital port on the bench, and the guard that
// keeps every operation on the active board off the ports until a board is
// selected with port access held.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dremor_fixture.h"
#include "varno_ioctl.h"

namespace daqtest {
namespace {

constexpr uint16_t kIo = kSelectedIo;

using SetupTimerSlots = void(DREMOR_CALL*)(uint32_t, uint32_t);
using DoSlot = void(DREMOR_CALL*)(uint32_t);

// VARNO_SetupTimer: control word, then low and high byte at counter n's port
// (n = counter AND 3; 3 is the control register itself). Slots carry junk
// above the stated widths.
TEST_F(DremorTest, SetupTimerWritesControlWordThenBothCountBytes) {
  SelectedBoard();
  auto setupTimer = SlotCast<SetupTimerSlots>(api.VARNO_SetupTimer);
  const struct {
    uint32_t counterSlot, divisorSlot;
    std::vector<Named> writes;
  } cases[] = {
      {0, 1000,
       {W8(kIo + 0x0C, 0x34, "CounterControl"), W8(kIo + 0x00, 0xE8, "Counter0"), W8(kIo + 0x00, 0x03, "Counter0")}},
      {2, 0x0102,
       {W8(kIo + 0x0C, 0xB4, "CounterControl"), W8(kIo + 0x08, 0x02, "Counter2"), W8(kIo + 0x08, 0x01, "Counter2")}},
      {5, 0x1234,
       {W8(kIo + 0x0C, 0x74, "CounterControl"), W8(kIo + 0x04, 0x34, "Counter1"), W8(kIo + 0x04, 0x12, "Counter1")}},
      {3, 0x0064,
       {W8(kIo + 0x0C, 0xF4, "CounterControl"), W8(kIo + 0x0C, 0x64, "CounterControl"),
        W8(kIo + 0x0C, 0x00, "CounterControl")}},
      {0xFFFFFFFFu, 0xABCD0201,
       {W8(kIo + 0x0C, 0xF4, "CounterControl"), W8(kIo + 0x0C, 0x01, "CounterControl"),
        W8(kIo + 0x0C, 0x02, "CounterControl")}},
      {1, 0, {W8(kIo + 0x0C, 0x74, "CounterControl"), W8(kIo + 0x04, 0x00, "Counter1"), W8(kIo + 0x04, 0x00, "Counter1")}},
      {0xC0DE0002, 0x00010064,
       {W8(kIo + 0x0C, 0xB4, "CounterControl"), W8(kIo + 0x08, 0x64, "Counter2"), W8(kIo + 0x08, 0x00, "Counter2")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "counter 0x" << c.counterSlot << " divisor 0x" << c.divisorSlot);
    bench().ClearTrace();
    setupTimer(c.counterSlot, c.divisorSlot);
    EXPECT_EQ(NamedTrace(), c.writes);
  }
}

// What the counter does with it: mode 2 with the divisor, one OUT pulse per
// divisor clocks; count 1 parks it.
TEST_F(DremorTest, SetupTimerLeavesTheCounterRunningAsARateGenerator) {
  MultifunctionBoard& board = SelectedBoard();
  for (uint16_t n = 0; n < 3; ++n) {
    EXPECT_TRUE(board.timer().Parked(n)) << "the selection parked counter " << n;
  }
  api.VARNO_SetupTimer(1, 1000);
  const uint64_t now = bench().NowNs();
  EXPECT_EQ(board.timer().Status(1, now) & 0x3F, 0x34) << "LSB then MSB, mode 2, binary";
  EXPECT_FALSE(board.timer().Parked(1));
  const uint64_t first = board.timer().NextOutRisingEdge(1, now);
  EXPECT_EQ(board.timer().NextOutRisingEdge(1, first), first + 1000 * 250) << "1000 clocks of 4 MHz";
  api.VARNO_SetupTimer(1, 1);
  EXPECT_TRUE(board.timer().Parked(1));
  EXPECT_EQ(board.timer().NextOutRisingEdge(1, bench().NowNs()), daqsim::I8254::kNever);
}

TEST_F(DremorTest, DigitalOutputTakesTheLow16BitsAndInputIsReadUnchanged) {
  MultifunctionBoard& board = SelectedBoard();
  SlotCast<DoSlot>(api.VARNO_Do)(0x12345);
  EXPECT_EQ(NamedTrace(), (std::vector<Named>{{Out(2, kIo + 0x20, 0x2345), "DigitalIo"}}));
  EXPECT_EQ(board.digitalOutputs(), 0x2345);

  for (uint16_t pattern : {uint16_t(0xA5C3), uint16_t(0x0000), uint16_t(0xFFFF), uint16_t(0x8001)}) {
    board.SetDigitalInputs(pattern);
    bench().ClearTrace();
    uint16_t got = kUntouched;
    EXPECT_EQ(api.VARNO_Di(&got), DREMOR_OK);
    EXPECT_EQ(got, pattern);
    EXPECT_EQ(NamedTrace(), (std::vector<Named>{{In(2, kIo + 0x20, pattern), "DigitalIo"}}));
  }
  EXPECT_EQ(board.digitalOutputs(), 0x2345) << "reading leaves the outputs alone";
}

// Every operation on the active board, called where it may not touch a port.
// Those with a status answer 13 and write nothing; the others do nothing.
// VARNO_INT_AdStop still tells the driver to stop when the interrupt device
// is held, and answers the stop's status; without it, it does nothing.
void ExpectGuardedAndQuiet(DremorApi& api, bool interruptDeviceHeld) {
  uint16_t word = kUntouched;
  float volts[3] = {-1.0f, -1.0f, -1.0f};
  uint16_t codes[3] = {kUntouched, kUntouched, kUntouched};
  api.VARNO_SetupTimer(0, 100);
  api.VARNO_Do(0x5555);
  EXPECT_EQ(api.VARNO_Di(&word), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_SetChannelConfig(1, 1), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_Polling(&word), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_AdPolling(&volts[0]), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_AdsPolling(volts, 3), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_AdsPacer(volts, 3, 100), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_AdsPacerHex(codes, 3, 100), DREMOR_ERR_BOARD_RANGE);
  const size_t requests = daqsim::Bench::Instance().ioControls().size();
  EXPECT_EQ(api.VARNO_INT_AdStart(1, 1, 100), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(daqsim::Bench::Instance().ioControls().size(), requests) << "start sends nothing";
  EXPECT_EQ(api.VARNO_INT_AdStop(), interruptDeviceHeld ? DREMOR_OK : DREMOR_ERR_BOARD_RANGE);
  const auto& sent = daqsim::Bench::Instance().ioControls();
  ASSERT_EQ(sent.size(), requests + (interruptDeviceHeld ? 1 : 0));
  if (interruptDeviceHeld) {
    EXPECT_EQ(sent.back().code, IOCTL_VARNO_STOP);
  }
  EXPECT_EQ(word, kUntouched);
  for (float v : volts) EXPECT_EQ(v, -1.0f);
  for (uint16_t c : codes) EXPECT_EQ(c, kUntouched);
  EXPECT_TRUE(daqsim::Bench::Instance().trace().empty()) << "no port access at all";
}

TEST_F(DremorTest, BeforeAnySelectionNothingReachesAPort) {
  MultifunctionBoard& board = *Boards({PciLocation{0, 7, 0}})[0];
  board.SetSignal(0, daqsim::Signal::Dc(2.5));
  board.SetDigitalInputs(0x1234);
  ASSERT_EQ(Init(), DREMOR_OK);
  bench().ClearTrace();
  ExpectGuardedAndQuiet(api, true);
  EXPECT_EQ(board.digitalOutputs(), 0);

  // The refused configuration was not kept: after the selection, volts use
  // the +-10 V range of code 0, which the board's GainControl (0x00) matches.
  ASSERT_EQ(api.VARNO_ActiveBoard(0), DREMOR_OK);
  float v = 0;
  ASSERT_EQ(api.VARNO_AdPolling(&v), DREMOR_OK);
  EXPECT_EQ(v, 2.5f);
}

TEST_F(DremorTest, WithoutPortAccessNothingReachesAPort) {
  MultifunctionBoard& board = SelectedBoard();
  api.VARNO_Do(0x00F0);
  ASSERT_NE(api.VARNO_DriverClose(), 0);
  bench().ClearTrace();
  ExpectGuardedAndQuiet(api, false);
  EXPECT_EQ(board.digitalOutputs(), 0x00F0);
}

// A selected board whose number a rescan no longer covers: the conversions
// refuse with 13; the timer, the digital port and the configuration have no
// such check.
TEST_F(DremorTest, ConversionsCheckTheActiveBoardAgainstTheBoardCount) {
  SelectedBoard();
  ASSERT_TRUE(bench().Remove(PciLocation{0, 7, 0}));
  uint16_t count = kUntouched;
  ASSERT_EQ(api.VARNO_DriverInit(&count), DREMOR_ERR_NO_BOARD);
  ASSERT_EQ(count, 0);
  bench().ClearTrace();

  uint16_t word = kUntouched;
  float volts[2] = {-1.0f, -1.0f};
  EXPECT_EQ(api.VARNO_Polling(&word), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_AdPolling(volts), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_AdsPolling(volts, 2), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_AdsPacer(volts, 2, 10), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_AdsPacerHex(&word, 1, 10), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(word, kUntouched);
  EXPECT_EQ(volts[0], -1.0f);
  EXPECT_TRUE(bench().trace().empty());

  api.VARNO_Do(0x0001);
  EXPECT_EQ(api.VARNO_Di(&word), DREMOR_OK);
  EXPECT_EQ(api.VARNO_SetChannelConfig(0, 0), DREMOR_OK);
  EXPECT_GT(bench().trace().size(), 2u);
}

}  // namespace
}  // namespace daqtest
