// The bench's relay boards, driver stand-ins, trace, faults, clock and heap.
#include <gtest/gtest.h>

#include <memory>

#include "bench_fixture.h"
#include "daqsim/bench.h"
#include "relay_board_map.h"
#include "trace_util.h"

namespace {

using daqsim::Bench;
using daqsim::KernelDevice;
using daqsim::PciLocation;
using daqsim::RelayBoard;
using daqsim::RelayModel;
using daqtest::Accesses;
using daqtest::In;
using daqtest::Out;

using BenchTest = daqtest::BenchFixture;

TEST_F(BenchTest, RelayBoardsDecodeByteLanesOfTheirBlock) {
  RelayBoard& k = bench.AddRelayBoard(RelayModel::kKorvel, {0, 5, 0});
  RelayBoard& l = bench.AddRelayBoard(RelayModel::kLumar, {0, 6, 0});
  ASSERT_NE(Open(daqsim::kPortAccessDeviceName), daqsim::kInvalidHandle);
  const uint16_t kb = k.bar(RELAY_BOARD_BLOCK_BAR).base, lb = l.bar(RELAY_BOARD_BLOCK_BAR).base;
  k.SetInputs(0xBEEF);
  l.SetInputs(0x1F0);  // the LUMAR board has 8 inputs

  bench.PortWrite(kb + KORVEL_OUTPUT_OFFSET, 2, 0x1234);
  bench.PortWrite(kb + KORVEL_OUTPUT_OFFSET + 1, 1, 0xAB);
  bench.PortWrite(kb + KORVEL_INPUT_OFFSET, 2, 0x0000);  // read-only
  bench.PortWrite(lb + LUMAR_OUTPUT_OFFSET, 2, 0x7755);  // high byte lands on the input port
  EXPECT_EQ(k.outputs(), 0xAB34);
  EXPECT_EQ(l.outputs(), 0x55);
  const struct {
    uint16_t port;
    unsigned width;
    uint32_t want;
  } reads[] = {
      {uint16_t(kb + KORVEL_OUTPUT_OFFSET), 2, 0xAB34},
      {uint16_t(kb + KORVEL_INPUT_OFFSET), 2, 0xBEEF},
      {uint16_t(kb + KORVEL_INPUT_OFFSET + 1), 1, 0xBE},
      {uint16_t(kb + KORVEL_OUTPUT_OFFSET), 4, 0xBEEFAB34},
      {uint16_t(kb + 0x04), 2, 0xFFFF},
      {uint16_t(lb + LUMAR_OUTPUT_OFFSET), 1, 0x55},
      {uint16_t(lb + LUMAR_INPUT_OFFSET), 1, 0xF0},
      {uint16_t(lb + LUMAR_OUTPUT_OFFSET), 2, 0xF055},
      {uint16_t(lb + 0x02), 1, 0xFF},
  };
  for (const auto& r : reads) EXPECT_EQ(bench.PortRead(r.port, r.width), r.want) << std::hex << r.port;
  EXPECT_STREQ(bench.trace().back().reg, nullptr);
  EXPECT_STREQ(bench.trace()[bench.trace().size() - 2].reg, "RelayOutput");
}

TEST_F(BenchTest, PortAccessIsGrantedOnlyWhileAKelvraHandleIsHeld) {
  RelayBoard& k = bench.AddRelayBoard(RelayModel::kKorvel, {0, 5, 0});
  k.SetInputs(0x0F0F);
  EXPECT_FALSE(bench.PortAccessGranted());
  EXPECT_EQ(bench.PortRead(k.InputPort(), 2), 0xFFFFu);
  bench.PortWrite(k.OutputPort(), 2, 0x00FF);
  EXPECT_EQ(k.outputs(), 0) << "a trapped write reaches no device";
  ASSERT_EQ(bench.faults().size(), 2u);
  EXPECT_TRUE(bench.faults()[0].faulted);
  EXPECT_EQ(bench.faults()[1].port, k.OutputPort());

  const uintptr_t h1 = Open(daqsim::kPortAccessDeviceName);
  const uintptr_t h2 = Open(daqsim::kPortAccessDeviceName);
  ASSERT_NE(h1, daqsim::kInvalidHandle);
  ASSERT_NE(h2, daqsim::kInvalidHandle);
  EXPECT_EQ(bench.PortRead(k.InputPort(), 2), 0x0F0Fu);
  EXPECT_EQ(bench.CloseHandle(h1), 1);
  EXPECT_TRUE(bench.PortAccessGranted());
  EXPECT_EQ(bench.CloseHandle(h2), 1);
  EXPECT_FALSE(bench.PortAccessGranted());
  EXPECT_EQ(bench.PortRead(k.InputPort(), 2), 0xFFFFu);
  EXPECT_EQ(bench.faults().size(), 3u);
}

// The Linux host: holding "\\.\kelvra" allows the configuration ports and
// whatever was asked for, byte by byte; anything else is a fault.
TEST_F(BenchTest, OnTheLinuxHostOnlyThePortsAskedForMayBeAccessed) {
  RelayBoard& k = bench.AddRelayBoard(RelayModel::kKorvel, {0, 5, 0});
  k.SetInputs(0x0F0F);
  bench.SetHost(Bench::Host::kLinux);
  EXPECT_FALSE(bench.HasInterruptDriver());
  const uintptr_t h = Open(daqsim::kPortAccessDeviceName);
  ASSERT_NE(h, daqsim::kInvalidHandle);
  bench.PortWrite(0xCF8, 4, 0x80000000u);
  EXPECT_EQ(bench.PortRead(0xCFC, 2), 0xFFFFu) << "an empty slot";
  EXPECT_TRUE(bench.faults().empty()) << "the configuration ports come with the device";

  EXPECT_EQ(bench.PortRead(k.InputPort(), 2), 0xFFFFu) << "not asked for yet";
  ASSERT_EQ(bench.faults().size(), 1u);
  // Asking for one port of the two that a 16-bit access covers is not enough.
  EXPECT_TRUE(bench.AllowPorts(k.InputPort(), 1));
  EXPECT_EQ(bench.PortRead(k.InputPort(), 2), 0xFFFFu);
  EXPECT_EQ(bench.faults().size(), 2u);
  EXPECT_TRUE(bench.AllowPorts(uint16_t(k.InputPort() + 1), 1));
  EXPECT_EQ(bench.PortRead(k.InputPort(), 2), 0x0F0Fu);
  EXPECT_EQ(bench.faults().size(), 2u);

  EXPECT_FALSE(bench.AllowPorts(0xFFFF, 2)) << "beyond the port space";
  EXPECT_TRUE(bench.AllowPorts(0xFFFF, 1));
  ASSERT_EQ(bench.allowedRanges().size(), 3u);
  EXPECT_EQ(bench.allowedRanges()[2].first, 0xFFFF);

  bench.SetHost(Bench::Host::kWindows);
  EXPECT_TRUE(bench.HasInterruptDriver());
  EXPECT_EQ(bench.PortRead(0x0080, 1), 0xFFu);
  EXPECT_EQ(bench.faults().size(), 2u) << "on Windows the driver allows every port";
  bench.CloseHandle(h);
}

TEST_F(BenchTest, DriverStandInsCanBeAbsentRefusingOrExclusive) {
  const struct {
    bool installed, refuse, exclusive;
    bool firstOk, secondOk;
  } cases[] = {
      {true, false, false, true, true},
      {true, false, true, true, false},
      {false, false, false, false, false},
      {true, true, false, false, false},
  };
  for (const auto& c : cases) {
    bench.Reset();
    bench.PortAccessDriver().SetInstalled(c.installed);
    bench.PortAccessDriver().SetRefuseOpen(c.refuse);
    bench.PortAccessDriver().SetExclusive(c.exclusive);
    const uintptr_t a = Open("\\\\.\\KELVRA");  // device names ignore case
    const uintptr_t b = Open(daqsim::kPortAccessDeviceName);
    EXPECT_EQ(a != daqsim::kInvalidHandle, c.firstOk);
    EXPECT_EQ(b != daqsim::kInvalidHandle, c.secondOk);
    EXPECT_EQ(bench.PortAccessDriver().openHandles(), unsigned(c.firstOk) + unsigned(c.secondOk));
    EXPECT_EQ(bench.opens().size(), 2u);
  }
  EXPECT_EQ(Open("\\\\.\\nosuchdevice"), daqsim::kInvalidHandle);
}

TEST_F(BenchTest, HandlesAreReusedLowestFirstAndBadClosesCounted) {
  bench.AddKernelDevice(std::make_unique<KernelDevice>("\\\\.\\other"));
  const uintptr_t a = Open(daqsim::kPortAccessDeviceName);
  const uintptr_t b = Open("\\\\.\\other");
  EXPECT_NE(a, b);
  EXPECT_EQ(bench.CloseHandle(a), 1);
  EXPECT_EQ(bench.CloseHandle(a), 0);
  EXPECT_EQ(bench.badCloses(), 1u);
  EXPECT_EQ(Open("\\\\.\\other"), a);
  EXPECT_EQ(bench.FindKernelDevice("\\\\.\\other")->openHandles(), 2u);
  EXPECT_EQ(bench.OpenHandleCount(), 2u);
  EXPECT_EQ(bench.CloseHandle(daqsim::kInvalidHandle), 0);
  uint32_t returned = 7;
  EXPECT_EQ(bench.DeviceIoControl(b, 0x22002C, nullptr, 0, nullptr, 0, &returned), 0)
      << "a device without requests fails them";
  EXPECT_EQ(returned, 0u);
}

TEST_F(BenchTest, EveryAccessTakesOneIoCycleAndSleepMovesTheClock) {
  Open(daqsim::kPortAccessDeviceName);
  EXPECT_EQ(bench.NowNs(), 0u);
  bench.PortRead(0x80, 1);
  bench.PortWrite(0x80, 1, 0);
  EXPECT_EQ(bench.NowNs(), 2 * daqsim::Clock::kIoCycleNs);
  EXPECT_EQ(bench.trace()[1].timeNs, daqsim::Clock::kIoCycleNs);
  bench.Sleep(100);
  EXPECT_EQ(bench.NowNs(), 2 * daqsim::Clock::kIoCycleNs + 100000000u);
  EXPECT_EQ(bench.sleepCalls(), 1u);
  EXPECT_EQ(bench.sleptMs(), 100u);
  EXPECT_EQ(Accesses(bench.trace()), (std::vector<daqtest::Access>{In(1, 0x80, 0xFF), Out(1, 0x80, 0)}));

  bench.SetTraceEnabled(false);
  bench.PortRead(0x80, 1);
  EXPECT_EQ(bench.trace().size(), 2u);
  EXPECT_EQ(bench.portAccessCount(), 3u);
}

TEST_F(BenchTest, HeapCountsAndRefusesOnRequest) {
  void* a = bench.HeapAlloc(16);
  bench.FailNextAllocations(2);
  EXPECT_EQ(bench.HeapAlloc(16), nullptr);
  EXPECT_EQ(bench.HeapAlloc(0), nullptr);
  void* b = bench.HeapAlloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(bench.heap().outstanding(), 2u);
  bench.HeapFree(a);
  bench.HeapFree(b);
  bench.HeapFree(nullptr);
  EXPECT_EQ(bench.heap().allocations, 2u);
  EXPECT_EQ(bench.heap().releases, 2u);
  EXPECT_EQ(bench.heap().refused, 2u);
}

}  // namespace

namespace {

TEST(BenchClock, RealTimeModeFollowsTheWallClockWithoutJumps) {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  bench.Reset();
  bench.Sleep(5);
  const uint64_t before = bench.NowNs();
  EXPECT_EQ(before, 5000000u);
  bench.SetRealTime(true);
  const uint64_t at = bench.NowNs();
  EXPECT_GE(at, before) << "switching on carries on from the virtual time";
  bench.Sleep(2);  // really sleeps: the clock moves by at least that much
  const uint64_t later = bench.NowNs();
  EXPECT_GE(later, at + 2000000u);
  bench.SetRealTime(false);
  const uint64_t back = bench.NowNs();
  EXPECT_GE(back, later) << "switching off keeps the time reached";
  bench.Sleep(1);
  EXPECT_EQ(bench.NowNs(), back + 1000000u) << "deterministic again";
  bench.Reset();
  EXPECT_FALSE(bench.clock().realTime());
  EXPECT_EQ(bench.NowNs(), 0u);
}

}  // namespace
