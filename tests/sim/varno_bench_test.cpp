// The bench's multifunction board and the stand-in of its interrupt driver.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench_fixture.h"
#include "daqsim/bench.h"
#include "varno_board_map.h"
#include "varno_ioctl.h"

namespace {

using daqsim::Bar;
using daqsim::MultifunctionBoard;
using daqsim::VarnoDriver;
using daqsim::VarnoRegister;

using VarnoBenchTest = daqtest::BenchFixture;

TEST_F(VarnoBenchTest, BoardGetsItsResourcesAndIdentity) {
  MultifunctionBoard& a = bench.AddMultifunctionBoard({0, 7, 0});
  MultifunctionBoard& b = bench.AddMultifunctionBoard({1, 3, 0});
  for (MultifunctionBoard* m : {&a, &b}) {
    EXPECT_EQ(m->ConfigDword(0), 0x5C2A1234u);
    const Bar bridge = m->bar(VARNO_BRIDGE_BAR), block = m->bar(VARNO_BOARD_BAR);
    EXPECT_EQ(bridge.kind, Bar::Kind::kIo);
    EXPECT_EQ(bridge.size, 128u);
    EXPECT_EQ(bridge.base % 128, 0u);
    EXPECT_EQ(block.kind, Bar::Kind::kIo);
    EXPECT_EQ(block.size, 64u);
    EXPECT_EQ(block.base % 64, 0u);
    EXPECT_EQ(m->ConfigDword(0x18) & 1, 1u) << "I/O-space indicator";
    EXPECT_EQ(m->interruptPin(), 1);
    EXPECT_NE(m->interruptLine(), 0);
    EXPECT_EQ(m->IoBase(), block.base);
    EXPECT_EQ(m->Port(VarnoRegister::kInterruptControl), bridge.base + 0x4C);
    EXPECT_EQ(m->Port(VarnoRegister::kAdData), block.base + 0x30);
  }
  EXPECT_NE(a.IoBase(), b.IoBase());
  EXPECT_NE(a.BridgeBase(), b.BridgeBase());

  MultifunctionBoard& c = AddVarnoBoard({2, 0, 0}, 0xC000, 0xC400, 0x0B, 2);
  EXPECT_EQ(c.ConfigDword(0x3C) & 0xFFFF, 0x020Bu) << "line in bits 0-7, pin in bits 8-15";
  EXPECT_EQ(c.BridgeBase(), 0xC000);
  EXPECT_EQ(c.IoBase(), 0xC400);
}

// Every register by port and direction: the name the trace gives it, and
// what the board keeps or answers.
TEST_F(VarnoBenchTest, EveryRegisterIsDecodedAndNamedInTheTrace) {
  MultifunctionBoard& m = AddVarnoBoard({0, 7, 0}, 0xC000, 0xC400, 11);
  ASSERT_NE(Open(daqsim::kPortAccessDeviceName), daqsim::kInvalidHandle);
  m.SetDigitalInputs(0xA5C3);
  m.SetSignal(7, daqsim::Signal::Dc(-0.05));  // channel 7, +-0.1 V: code 1024
  constexpr uint32_t kAny = 0xFFFFFFFFu;      // a read whose value another test checks

  const struct {
    bool write;
    unsigned width;
    uint16_t port;
    uint32_t value;  // written, or expected back
    const char* name;
    VarnoRegister reg;
  } cases[] = {
      {true, 1, 0xC400, 0x12, "Counter0", VarnoRegister::kCounter0},
      {true, 1, 0xC404, 0x34, "Counter1", VarnoRegister::kCounter1},
      {true, 1, 0xC408, 0x56, "Counter2", VarnoRegister::kCounter2},
      {true, 1, 0xC40C, 0xB4, "CounterControl", VarnoRegister::kCounterControl},
      {true, 1, 0xC410, 0x07, "ChannelSelect", VarnoRegister::kChannelSelect},
      {true, 1, 0xC414, 0x12, "GainControl", VarnoRegister::kGainControl},
      {true, 1, 0xC418, 0x04, "AdModeControl", VarnoRegister::kAdModeControl},
      {true, 2, 0xC41C, 0x0000, "SoftwareTrigger", VarnoRegister::kSoftwareTrigger},
      {true, 1, 0xC41C, 0x00, "SoftwareTrigger", VarnoRegister::kSoftwareTrigger},
      {true, 2, 0xC420, 0xBEEF, "DigitalIo", VarnoRegister::kDigitalIo},
      {true, 1, 0xC04C, 0x43, "InterruptControl", VarnoRegister::kInterruptControl},
      {false, 1, 0xC408, kAny, "Counter2", VarnoRegister::kCounter2},
      {false, 1, 0xC410, 0x00, "AdStatus", VarnoRegister::kAdStatus},  // still converting
      {false, 2, 0xC420, 0xA5C3, "DigitalIo", VarnoRegister::kDigitalIo},
      {false, 2, 0xC430, 0xF800, "AdData", VarnoRegister::kAdData},    // the power-up word
      {false, 1, 0xC04C, 0x43, "InterruptControl", VarnoRegister::kInterruptControl},
      {false, 1, 0xC410, 0x01, "AdStatus", VarnoRegister::kAdStatus},  // 8 us after the trigger
      {false, 2, 0xC430, 0xF400, "AdData", VarnoRegister::kAdData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << (c.write ? " write" : " read"));
    if (c.write) {
      bench.PortWrite(c.port, c.width, c.value);
      EXPECT_EQ(m.lastWritten(c.reg), c.value);
    } else {
      const uint32_t got = bench.PortRead(c.port, c.width);
      if (c.value != kAny) {
        EXPECT_EQ(got, c.value);
      }
    }
    ASSERT_NE(bench.trace().back().reg, nullptr);
    EXPECT_STREQ(bench.trace().back().reg, c.name);
    EXPECT_STREQ(MultifunctionBoard::Name(c.reg), c.name);
  }
  // The writes reached the models.
  const daqsim::I8254& timer = m.timer();
  EXPECT_EQ(timer.Status(2, bench.NowNs()) & 0x3E, 0x34) << "counter 2: LSB then MSB, mode 2";
  const daqsim::AdConverter& adc = m.converter();
  EXPECT_EQ(adc.ChannelSelectByte(), 0x07);
  EXPECT_EQ(adc.GainByte(), 0x12);
  EXPECT_EQ(adc.Mode(), 0x04);
  EXPECT_EQ(adc.Counters(bench.NowNs()).started, 1u) << "the 8-bit trigger came while converting";
  EXPECT_EQ(adc.Counters(bench.NowNs()).overruns, 1u);
  EXPECT_EQ(m.digitalOutputs(), 0xBEEF);
  EXPECT_EQ(m.interruptControl(), 0x43);
  EXPECT_EQ(m.writeCount(VarnoRegister::kSoftwareTrigger), 2u);
  EXPECT_EQ(m.readCount(VarnoRegister::kAdStatus), 2u);
  EXPECT_EQ(m.unclaimedAccesses(), 0u);
}

TEST_F(VarnoBenchTest, AccessesBesideTheRegistersAreUnclaimed) {
  MultifunctionBoard& m = AddVarnoBoard({0, 7, 0}, 0xC000, 0xC400, 11);
  ASSERT_NE(Open(daqsim::kPortAccessDeviceName), daqsim::kInvalidHandle);
  m.SetDigitalInputs(0x1234);

  // Wrong direction, between registers, unmodelled bridge registers.
  bench.PortWrite(0xC430, 2, 0x0FFF);  // AdData is read-only
  bench.PortWrite(0xC421, 1, 0xFF);    // inside DigitalIo, not its start
  bench.PortWrite(0xC000, 4, 0xFFFFFFFF);
  EXPECT_EQ(bench.PortRead(0xC414, 1), 0xFFu);  // GainControl is write-only
  EXPECT_EQ(bench.PortRead(0xC40C, 1), 0xFFu);  // the 8254 control word cannot be read
  EXPECT_EQ(bench.PortRead(0xC43E, 2), 0xFFFFu);
  for (const auto& a : bench.trace()) EXPECT_EQ(a.reg, nullptr) << std::hex << a.port;
  EXPECT_EQ(m.unclaimedAccesses(), 6u);
  EXPECT_EQ(m.digitalOutputs(), 0);

  // Widths: an 8-bit register takes the low byte of a wider access; a 16-bit
  // register takes the low byte of an 8-bit write.
  bench.PortWrite(0xC410, 2, 0xAB05);
  EXPECT_EQ(m.converter().ChannelSelectByte(), 0x05);
  EXPECT_EQ(bench.PortRead(0xC410, 2), 0xFF01u);
  bench.PortWrite(0xC420, 2, 0x1122);
  bench.PortWrite(0xC420, 1, 0x33);
  EXPECT_EQ(m.digitalOutputs(), 0x1133);
  EXPECT_EQ(bench.PortRead(0xC420, 1), 0x34u);
  EXPECT_EQ(bench.PortRead(0xC420, 4), 0xFFFF1234u);
}

TEST_F(VarnoBenchTest, InterruptDevicesExistForTheBoardsPresentInScanOrder) {
  EXPECT_EQ(bench.VarnoDevice(0), nullptr) << "a bench has no interrupt driver until it installs one";
  bench.AddStockPcDevices();
  MultifunctionBoard& late = bench.AddMultifunctionBoard({4, 1, 0});
  MultifunctionBoard& early = bench.AddMultifunctionBoard({0, 20, 0});
  bench.AddMultifunctionBoard({10, 0, 0});  // not on a scanned bus
  bench.AddMultifunctionBoard({0, 21, 3});  // not function 0
  bench.AddRelayBoard(daqsim::RelayModel::kKorvel, {0, 4, 0});

  EXPECT_EQ(bench.VarnoBoardsInScanOrder(), (std::vector<daqsim::PciFunction*>{&early, &late}));
  EXPECT_EQ(bench.InstallVarnoDevices(), 2u);
  for (unsigned n = 0; n < 4; ++n) {
    VarnoDriver* d = bench.VarnoDevice(n);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->name(), "\\\\.\\VARNO" + std::to_string(n));
    EXPECT_EQ(d->board(), n);
    EXPECT_EQ(d->installed(), n < 2) << n;
    EXPECT_EQ(Open(d->name()) != daqsim::kInvalidHandle, n < 2) << n;
  }
  EXPECT_EQ(bench.VarnoDevice(4), nullptr);
}

TEST_F(VarnoBenchTest, InterruptDeviceIsExclusiveAndCanRefuse) {
  bench.AddMultifunctionBoard({0, 7, 0});
  bench.InstallVarnoDevices();
  VarnoDriver& d = *bench.VarnoDevice(0);
  const uintptr_t h = Open(d.name());
  ASSERT_NE(h, daqsim::kInvalidHandle);
  EXPECT_EQ(Open(d.name()), daqsim::kInvalidHandle) << "second open while a handle is held";
  EXPECT_EQ(bench.CloseHandle(h), 1);
  const uintptr_t again = Open(d.name());
  EXPECT_NE(again, daqsim::kInvalidHandle);
  bench.CloseHandle(again);
  d.SetRefuseOpen(true);
  EXPECT_EQ(Open(d.name()), daqsim::kInvalidHandle);
  EXPECT_EQ(d.openHandles(), 0u);
}

// Each request with its own sizes succeeds; any other size, a missing buffer
// or an unknown code fails, as in a buffered driver.
TEST_F(VarnoBenchTest, RequestsSucceedOnlyWithTheirCodeAndSizes) {
  MultifunctionBoard& board = bench.AddMultifunctionBoard({0, 7, 0});
  bench.InstallVarnoDevices();
  VarnoDriver& d = *bench.VarnoDevice(0);
  const uintptr_t h = Open(d.name());
  ASSERT_NE(h, daqsim::kInvalidHandle);

  // Zeros, except that the first 12 bytes name the board (for the resources
  // record; READ_SAMPLES reads its count from bytes 0-3 and is given a zero
  // count through `zero`).
  uint8_t in[32] = {};
  const VarnoIrqResources rec{board.BridgeBase(), board.IoBase(), board.interruptLine(), 0};
  std::memcpy(in, &rec, sizeof rec);
  uint8_t zero[32] = {};
  uint8_t out[32] = {};
  const struct {
    uint32_t code;
    bool withIn;
    uint32_t inSize;
    bool withOut;
    uint32_t outSize;
    bool ok;
  } cases[] = {
      {IOCTL_VARNO_GET_VERSION, false, 0, true, 2, true},
      {IOCTL_VARNO_GET_VERSION, false, 0, true, 4, false},
      {IOCTL_VARNO_GET_VERSION, false, 0, true, 1, false},
      {IOCTL_VARNO_GET_VERSION, true, 4, true, 2, false},
      {IOCTL_VARNO_GET_VERSION, false, 0, false, 2, false},
      {IOCTL_VARNO_GET_INT_COUNT, false, 0, true, 4, true},
      {IOCTL_VARNO_GET_INT_COUNT, false, 0, true, 2, false},
      {IOCTL_VARNO_STOP, false, 0, false, 0, true},
      {IOCTL_VARNO_STOP, true, 4, false, 0, false},
      {IOCTL_VARNO_STOP, false, 0, true, 2, false},
      {IOCTL_VARNO_IRQ_USER_VALUE, true, 4, false, 0, true},
      {IOCTL_VARNO_IRQ_USER_VALUE, true, 8, false, 0, false},
      {IOCTL_VARNO_IRQ_USER_VALUE, false, 4, false, 0, false},
      {IOCTL_VARNO_IRQ_RESOURCES, true, 16, false, 0, true},
      {IOCTL_VARNO_IRQ_RESOURCES, true, 12, false, 0, false},
      {IOCTL_VARNO_IRQ_RESOURCES, true, 16, true, 4, false},
      {IOCTL_VARNO_READ_SAMPLES, true, 4, false, 0, true},  // count 0
      {IOCTL_VARNO_READ_SAMPLES, true, 4, true, 2, false},  // count 0, but room for one
      {IOCTL_VARNO_READ_SAMPLES, true, 2, false, 0, false},
      {0x220004, false, 0, false, 0, false},                 // functions never sent
      {0x220008, false, 0, true, 2, false},
      {0x22001C, false, 0, true, 2, false},
      {0x22C02C, false, 0, true, 2, false},                  // GET_VERSION's function, other access bits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "code 0x" << c.code << std::dec << " in " << c.inSize
                                      << " out " << c.outSize);
    uint32_t returned = 0xFFFF;
    uint8_t* input = c.code == IOCTL_VARNO_READ_SAMPLES ? zero : in;
    const int32_t ok = bench.DeviceIoControl(h, c.code, c.withIn ? input : nullptr, c.inSize,
                                             c.withOut ? out : nullptr, c.outSize, &returned);
    EXPECT_EQ(ok != 0, c.ok);
    EXPECT_EQ(returned, c.ok ? c.outSize : 0u);
    ASSERT_FALSE(d.requests().empty());
    EXPECT_EQ(d.requests().back().code, c.code);
    EXPECT_EQ(d.requests().back().ok, c.ok);
  }
  EXPECT_EQ(d.stops(), 1u);
  d.SetInterruptCount(0x01020304);
  uint16_t version = 0;
  ASSERT_NE(bench.DeviceIoControl(h, IOCTL_VARNO_GET_VERSION, nullptr, 0, &version, 2, nullptr), 0);
  EXPECT_EQ(version, VarnoDriver::kVersion);
  uint32_t count = 0;
  ASSERT_NE(bench.DeviceIoControl(h, IOCTL_VARNO_GET_INT_COUNT, nullptr, 0, &count, 4, nullptr), 0);
  EXPECT_EQ(count, 0x01020304u);
  bench.CloseHandle(h);
}

TEST_F(VarnoBenchTest, InterruptDeviceKeepsWhatItReceivedAndHandsOverOnlyHeldSamples) {
  AddVarnoBoard({0, 7, 0}, 0xD000, 0xE000, 11);
  bench.InstallVarnoDevices();
  VarnoDriver& d = *bench.VarnoDevice(0);
  const uintptr_t h = Open(d.name());
  EXPECT_FALSE(d.userValue().has_value());
  EXPECT_FALSE(d.resources().has_value());

  uint8_t user[4] = {0xEF, 0xBE, 0xAD, 0xDE};
  ASSERT_NE(bench.DeviceIoControl(h, IOCTL_VARNO_IRQ_USER_VALUE, user, 4, nullptr, 0, nullptr), 0);
  ASSERT_TRUE(d.userValue().has_value());
  EXPECT_EQ(std::memcmp(d.userValue()->data(), user, 4), 0);

  VarnoIrqResources rec{0xD000, 0xE000, 11, 0x12345678};
  ASSERT_NE(bench.DeviceIoControl(h, IOCTL_VARNO_IRQ_RESOURCES, &rec, sizeof rec, nullptr, 0, nullptr), 0);
  ASSERT_TRUE(d.resources().has_value());
  EXPECT_EQ(d.resources()->bridgeBase, 0xD000u);
  EXPECT_EQ(d.resources()->ioBase, 0xE000u);
  EXPECT_EQ(d.resources()->irq, 11u);
  EXPECT_EQ(d.resources()->userParam, 0x12345678u);
  EXPECT_EQ(d.resourcesRecord()->size(), 16u);

  // Samples: the oldest first; asking for more than are held fails and
  // writes nothing.
  d.InjectSamples({0x0800, 0xF800, 0x0FFF});
  uint32_t n = 2;
  uint16_t words[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
  uint32_t returned = 0;
  ASSERT_NE(bench.DeviceIoControl(h, IOCTL_VARNO_READ_SAMPLES, &n, 4, words, 4, &returned), 0);
  EXPECT_EQ(returned, 4u);
  EXPECT_EQ(words[0], 0x0800);
  EXPECT_EQ(words[1], 0xF800);
  EXPECT_EQ(words[2], 0xAAAA);
  EXPECT_EQ(d.heldSamples(), 1u);
  words[0] = 0xAAAA;
  EXPECT_EQ(bench.DeviceIoControl(h, IOCTL_VARNO_READ_SAMPLES, &n, 4, words, 4, &returned), 0);
  EXPECT_EQ(words[0], 0xAAAA);
  EXPECT_EQ(d.heldSamples(), 1u);
  bench.CloseHandle(h);
}

TEST_F(VarnoBenchTest, InjectedRequestFaultsFailOnlyTheirCodeAndTakeNothing) {
  bench.AddMultifunctionBoard({0, 7, 0});
  bench.InstallVarnoDevices();
  VarnoDriver& d = *bench.VarnoDevice(0);
  const uintptr_t h = Open(d.name());
  uint16_t version = 0;
  uint8_t user[4] = {1, 2, 3, 4};

  d.FailRequest(IOCTL_VARNO_IRQ_USER_VALUE);
  EXPECT_EQ(bench.DeviceIoControl(h, IOCTL_VARNO_IRQ_USER_VALUE, user, 4, nullptr, 0, nullptr), 0);
  EXPECT_FALSE(d.userValue().has_value());
  EXPECT_NE(bench.DeviceIoControl(h, IOCTL_VARNO_GET_VERSION, nullptr, 0, &version, 2, nullptr), 0);
  d.FailRequest(IOCTL_VARNO_IRQ_USER_VALUE, false);
  EXPECT_NE(bench.DeviceIoControl(h, IOCTL_VARNO_IRQ_USER_VALUE, user, 4, nullptr, 0, nullptr), 0);

  d.FailAllRequests();
  EXPECT_EQ(bench.DeviceIoControl(h, IOCTL_VARNO_STOP, nullptr, 0, nullptr, 0, nullptr), 0);
  EXPECT_EQ(d.stops(), 0u);
  version = 0x7777;
  EXPECT_EQ(bench.DeviceIoControl(h, IOCTL_VARNO_GET_VERSION, nullptr, 0, &version, 2, nullptr), 0);
  EXPECT_EQ(version, 0x7777);
  d.FailAllRequests(false);
  d.SetVersion(0x0999);
  EXPECT_NE(bench.DeviceIoControl(h, IOCTL_VARNO_GET_VERSION, nullptr, 0, &version, 2, nullptr), 0);
  EXPECT_EQ(version, 0x0999);
  bench.CloseHandle(h);
}

// ---- The models behind the registers ---------------------------------------------------

// A board with its board block at 0xC400 and port access granted.
class VarnoModelTest : public VarnoBenchTest {
 protected:
  void SetUp() override {
    VarnoBenchTest::SetUp();
    board = &AddVarnoBoard({0, 7, 0}, 0xC000, 0xC400, 11);
    ASSERT_NE(Open(daqsim::kPortAccessDeviceName), daqsim::kInvalidHandle);
  }
  void Write(uint16_t offset, uint8_t value) { bench.PortWrite(uint16_t(0xC400 + offset), 1, value); }
  uint8_t Read(uint16_t offset) { return uint8_t(bench.PortRead(uint16_t(0xC400 + offset), 1)); }
  // The time a write made now reaches the board: the end of its I/O cycle.
  uint64_t WriteLandsAt() const { return bench.NowNs() + daqsim::Clock::kIoCycleNs; }
  // Latches counter 2 and reads it back, low byte first.
  uint16_t LatchCounter2() {
    Write(VARNO_COUNTER_CONTROL, VARNO_CW_LATCH_COUNTER2);
    const uint8_t low = Read(VARNO_COUNTER2);
    return uint16_t(low | Read(VARNO_COUNTER2) << 8);
  }
  MultifunctionBoard* board = nullptr;
};

TEST_F(VarnoModelTest, CounterTwoCountsDownFromTheBoardClockAndWrapsInModeZero) {
  ASSERT_EQ(board->CounterClockHz(), 4000000u) << "the board's default counter clock";
  constexpr uint64_t kPeriodNs = 250;  // 4 MHz
  constexpr uint16_t kCount = 100;
  Write(VARNO_COUNTER_CONTROL, VARNO_CW_COUNTER2_MODE0);
  Write(VARNO_COUNTER2, kCount);
  const uint64_t written = WriteLandsAt();
  Write(VARNO_COUNTER2, 0);
  // The count is loaded on the first clock edge after the write, then
  // decrements once per edge.
  const uint64_t loadEdge = (written / kPeriodNs + 1) * kPeriodNs;
  for (int i = 0; i < 5; ++i) {
    const uint64_t latchedAt = WriteLandsAt();
    const uint16_t expected = uint16_t(kCount - (latchedAt - loadEdge) / kPeriodNs);
    EXPECT_EQ(LatchCounter2(), expected) << "latched at " << latchedAt;
  }
  EXPECT_FALSE(board->timer().Out(2, bench.NowNs()));
  // Past the terminal count OUT is high and the counter runs on from 0xFFFF.
  bench.Sleep(1);
  const uint64_t latchedAt = WriteLandsAt();
  const uint64_t edges = (latchedAt - loadEdge) / kPeriodNs;
  EXPECT_EQ(LatchCounter2(), uint16_t(kCount - edges));
  EXPECT_TRUE(board->timer().Out(2, bench.NowNs()));
  EXPECT_TRUE(LatchCounter2() & 0x8000u);
}

TEST_F(VarnoModelTest, CounterClockIsABoardPropertyAndCanBeStopped) {
  Write(VARNO_COUNTER_CONTROL, VARNO_CW_COUNTER2_MODE0);
  Write(VARNO_COUNTER2, 0x00);
  Write(VARNO_COUNTER2, 0x70);
  LatchCounter2();
  // A latch and two reads take 3 us: 12 clocks at 4 MHz, 3 at 1 MHz, none
  // while the clock is stopped.
  const struct {
    uint32_t hz;
    bool stopped;
    uint16_t step;
  } cases[] = {{4000000, false, 12}, {1000000, false, 3}, {1000000, true, 0}, {2000000, false, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.hz << " Hz" << (c.stopped ? ", stopped" : ""));
    board->SetCounterClockHz(c.hz);
    board->SetCounterClockStopped(c.stopped);
    EXPECT_EQ(board->CounterClockHz(), c.hz);
    EXPECT_EQ(board->timer().ClockStopped(), c.stopped);
    LatchCounter2();
    const uint16_t first = LatchCounter2();
    EXPECT_EQ(uint16_t(first - LatchCounter2()), c.step);
  }
}

TEST_F(VarnoModelTest, PacerPulsesTriggerOneConversionPerPeriodAndAParkedPacerNone) {
  constexpr uint16_t kDivisor = 400;   // 100 us at 4 MHz
  constexpr uint64_t kPeriodNs = 100000;
  board->SetSignal(3, daqsim::Signal::Triangle(9.0, 1000.0));
  Write(VARNO_CHANNEL_SELECT, 3);
  for (uint8_t mode : {uint8_t(VARNO_AD_MODE_PACER), uint8_t(VARNO_AD_MODE_INTERRUPT)}) {
    SCOPED_TRACE(::testing::Message() << "AdModeControl " << int(mode));
    Write(VARNO_AD_MODE_CONTROL, mode);
    board->ClearConversionLog();
    Write(VARNO_COUNTER_CONTROL, VARNO_CW_MODE2_LOHI);
    Write(VARNO_COUNTER0, kDivisor & 0xFF);
    const uint64_t written = WriteLandsAt();
    Write(VARNO_COUNTER0, kDivisor >> 8);
    const uint64_t loadEdge = (written / 250 + 1) * 250;
    bench.Sleep(2);
    const auto log = board->conversionLog();
    ASSERT_GE(log.size(), 19u);
    EXPECT_LE(log.size(), 20u);
    // The first rising edge of OUT comes one full period after the load.
    EXPECT_EQ(log.front().triggerNs, loadEdge + kPeriodNs);
    for (size_t i = 0; i < log.size(); ++i) {
      EXPECT_TRUE(log[i].pacer);
      EXPECT_EQ(log[i].channel, 3);
      EXPECT_EQ(log[i].mode, mode);
      if (i > 0) {
        EXPECT_EQ(log[i].triggerNs - log[i - 1].triggerNs, kPeriodNs);
      }
      const double v = daqsim::Signal::Triangle(9.0, 1000.0).VoltsAt(log[i].triggerNs);
      EXPECT_EQ(log[i].word & 0x0FFF, daqsim::QuantiseToCode(v, 10.0));
      EXPECT_EQ(log[i].word & 0xF000, 0xF000);
    }
    // Parked: count 1 in mode 2 gives no pulse at all.
    Write(VARNO_COUNTER_CONTROL, VARNO_CW_MODE2_LOHI);
    Write(VARNO_COUNTER0, VARNO_PARK_COUNT);
    Write(VARNO_COUNTER0, 0);
    EXPECT_TRUE(board->timer().Parked(0));
    const uint64_t started = board->converter().Counters(bench.NowNs()).started;
    bench.Sleep(50);
    EXPECT_EQ(board->converter().Counters(bench.NowNs()).started, started);
    EXPECT_EQ(board->timer().NextOutRisingEdge(0, bench.NowNs()), daqsim::I8254::kNever);
  }
}

TEST_F(VarnoModelTest, SoftwareConversionSamplesAtTheTriggerAndFlagsItsEnd) {
  board->SetSignal(0, daqsim::Signal::Sine(1.0, 50.0, 30.0));
  EXPECT_EQ(Read(VARNO_AD_STATUS), VARNO_AD_STATUS_DONE) << "idle at power-up";
  EXPECT_EQ(bench.PortRead(0xC400 + VARNO_AD_DATA, 2), 0xF800u) << "mid-scale at power-up";
  Write(VARNO_GAIN_CONTROL, 0x01);  // +-5 V
  const uint64_t trigger = WriteLandsAt();
  Write(VARNO_SOFTWARE_TRIGGER, 0);
  unsigned busy = 0;
  while (!(Read(VARNO_AD_STATUS) & VARNO_AD_STATUS_DONE)) ++busy;
  EXPECT_EQ(busy, 8u) << "8 us conversion, 1 us per status read";
  // sin at 50 Hz, 30 degrees, at the trigger instant; +-5 V range.
  const double kPi = std::acos(-1.0);
  const double v = std::sin(2 * kPi * (50.0 * double(trigger) * 1e-9 + 30.0 / 360.0));
  const int code = int(std::floor(v / 5.0 * 2048 + 0.5)) + 2048;
  EXPECT_EQ(bench.PortRead(0xC400 + VARNO_AD_DATA, 2), 0xF000u | unsigned(code));
  EXPECT_FALSE(board->SetSignal(16, daqsim::Signal::Dc(1.0))) << "16 inputs";
}

TEST_F(VarnoModelTest, ConverterFaultsHoldOrFakeTheEndOfConversionFlag) {
  board->SetSignal(0, daqsim::Signal::Dc(2.5));
  board->SetConverterNeverFinishes(true);
  Write(VARNO_SOFTWARE_TRIGGER, 0);
  bench.Sleep(10);
  EXPECT_EQ(Read(VARNO_AD_STATUS), 0) << "never finishes";
  EXPECT_EQ(bench.PortRead(0xC400 + VARNO_AD_DATA, 2), 0xF800u);
  board->SetConverterNeverFinishes(false);
  EXPECT_EQ(Read(VARNO_AD_STATUS), VARNO_AD_STATUS_DONE);
  EXPECT_EQ(bench.PortRead(0xC400 + VARNO_AD_DATA, 2), 0xF800u) << "the abandoned conversion delivers nothing";

  board->SetEocStuckHigh(true);
  Write(VARNO_SOFTWARE_TRIGGER, 0);
  EXPECT_EQ(Read(VARNO_AD_STATUS), VARNO_AD_STATUS_DONE) << "stuck high while converting";
  EXPECT_EQ(bench.PortRead(0xC400 + VARNO_AD_DATA, 2), 0xF800u) << "the result is not there yet";
  bench.Sleep(1);
  EXPECT_EQ(bench.PortRead(0xC400 + VARNO_AD_DATA, 2), 0xFA00u) << "2.5 V on +-10 V";
  EXPECT_EQ(board->converter().Counters(bench.NowNs()).completed, 1u);
}

}  // namespace
