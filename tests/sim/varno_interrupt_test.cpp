// The bench's interrupt path: the multifunction board raising its interrupt
// for pacer conversions in interrupt mode, and the interrupt driver's
// stand-in binding the board, servicing, counting and keeping the samples.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "bench_fixture.h"
#include "daqsim/bench.h"
#include "varno_board_map.h"
#include "varno_ioctl.h"

namespace {

using daqsim::AdConversion;
using daqsim::MultifunctionBoard;
using daqsim::VarnoDriver;

constexpr uint16_t kBridge = 0xC000, kIo = 0xC400;
constexpr uint8_t kIrq = 11;
constexpr uint16_t kDivisor = 400;          // 4 MHz / 400: one conversion every 100 us
constexpr uint64_t kPeriodNs = 100000;

class VarnoInterruptTest : public daqtest::BenchFixture {
 protected:
  void SetUp() override {
    BenchFixture::SetUp();
    board = &AddVarnoBoard({0, 7, 0}, kBridge, kIo, kIrq);
    bench.InstallVarnoDevices();
    driver = bench.VarnoDevice(0);
    ASSERT_NE(Open(daqsim::kPortAccessDeviceName), daqsim::kInvalidHandle);
    handle = Open(driver->name());
    ASSERT_NE(handle, daqsim::kInvalidHandle);
    board->SetSignal(0, daqsim::Signal::Triangle(9.0, 130.0));
  }

  bool Request(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize) {
    return bench.DeviceIoControl(handle, code, const_cast<void*>(in), inSize, out, outSize, nullptr) != 0;
  }
  bool Resources(uint32_t bridge = kBridge, uint32_t io = kIo, uint32_t irq = kIrq) {
    const VarnoIrqResources rec{bridge, io, irq, 0x600DF00Du};
    return Request(IOCTL_VARNO_IRQ_RESOURCES, &rec, sizeof rec, nullptr, 0);
  }
  bool Stop() { return Request(IOCTL_VARNO_STOP, nullptr, 0, nullptr, 0); }
  uint32_t Count() {
    uint32_t n = 0xFFFFFFFFu;
    EXPECT_TRUE(Request(IOCTL_VARNO_GET_INT_COUNT, nullptr, 0, &n, 4));
    return n;
  }
  bool Read(uint32_t n, std::vector<uint16_t>* words) {
    words->assign(n + 1, 0xAAAA);  // one beyond, to see that nothing more is written
    return Request(IOCTL_VARNO_READ_SAMPLES, &n, 4, words->data(), 2 * n);
  }

  void Write(uint16_t port, uint8_t value) { bench.PortWrite(port, 1, value); }
  // What the library does to start and stop: mode, bridge, pacer.
  void Start(uint8_t mode = VARNO_AD_MODE_INTERRUPT, uint8_t bridge = VARNO_INTERRUPT_ON,
             uint16_t divisor = kDivisor) {
    Write(kIo + VARNO_AD_MODE_CONTROL, mode);
    Write(kBridge + VARNO_INTERRUPT_CONTROL, bridge);
    Pacer(divisor);
    // Then 50 us more, so that whole milliseconds later the bench stands
    // mid-period: exactly 10 results per millisecond, none about to finish.
    for (int i = 0; i < 50; ++i) bench.PortRead(kIo + VARNO_AD_STATUS, 1);
  }
  void Pacer(uint16_t divisor) {
    Write(kIo + VARNO_COUNTER_CONTROL, VARNO_CW_MODE2_LOHI);
    Write(kIo + VARNO_COUNTER0, uint8_t(divisor));
    Write(kIo + VARNO_COUNTER0, uint8_t(divisor >> 8));
  }
  void Park() { Pacer(VARNO_PARK_COUNT); }

  // The words of the pacer conversions the board finished, oldest first.
  std::vector<uint16_t> PacerWords() {
    std::vector<uint16_t> out;
    for (const AdConversion& c : board->conversionLog()) {
      if (c.pacer) out.push_back(c.word);
    }
    return out;
  }

  MultifunctionBoard* board = nullptr;
  VarnoDriver* driver = nullptr;
  uintptr_t handle = daqsim::kInvalidHandle;
};

TEST_F(VarnoInterruptTest, ResourcesBindTheBoardWithThoseBasesAndLineOnly) {
  MultifunctionBoard& other = AddVarnoBoard({0, 9, 0}, 0xB000, 0xB400, 5);
  const struct {
    uint32_t bridge, io, irq;
    MultifunctionBoard* bound;  // nullptr: refused
  } cases[] = {
      {kBridge, kIo, kIrq, board},   {0xB000, 0xB400, 5, &other}, {kBridge, 0xB400, kIrq, nullptr},
      {0xB000, kIo, 5, nullptr},     {kBridge, kIo, 5, nullptr},  {0, 0, 0, nullptr},
      {0x1C000, kIo, kIrq, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.bridge << " " << c.io << " " << c.irq);
    const MultifunctionBoard* before = driver->boundBoard();
    const auto recordBefore = driver->resourcesRecord();
    EXPECT_EQ(Resources(c.bridge, c.io, c.irq), c.bound != nullptr);
    if (c.bound) {
      EXPECT_EQ(driver->boundBoard(), c.bound);
      EXPECT_EQ(c.bound->interruptSink(), driver);
      EXPECT_TRUE(driver->armed());
      EXPECT_EQ(driver->resources()->bridgeBase, c.bridge);
      EXPECT_EQ(driver->resources()->userParam, 0x600DF00Du);
    } else {
      EXPECT_EQ(driver->boundBoard(), before) << "a refused record changes nothing";
      EXPECT_EQ(driver->resourcesRecord(), recordBefore);
    }
  }
  // Rebinding released the board bound before.
  ASSERT_TRUE(Resources());
  EXPECT_EQ(other.interruptSink(), nullptr);
}

// The interrupt needs all of: a pacer conversion, interrupt mode, the bridge
// enable bits, and an armed driver. Each case runs 10 periods.
TEST_F(VarnoInterruptTest, OnlyPacerConversionsInInterruptModeWithTheBridgeOnInterrupt) {
  const struct {
    const char* name;
    uint8_t mode, bridge;
    bool arm;
    bool software;  // software triggers instead of the pacer
    uint64_t raised, counted;
  } cases[] = {
      {"all conditions", 0x04, 0x43, true, false, 10, 10},
      {"pacer-clocked polling mode", 0x00, 0x43, true, false, 0, 0},
      {"bridge interrupt off", 0x04, 0x00, true, false, 0, 0},
      {"bridge enable bits incomplete", 0x04, 0x41, true, false, 0, 0},
      {"driver not armed", 0x04, 0x43, false, false, 10, 0},
      {"software triggers", 0x04, 0x43, true, true, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (c.arm) {
      ASSERT_TRUE(Resources());
    }
    if (c.software) {
      Write(kIo + VARNO_AD_MODE_CONTROL, c.mode);
      Write(kBridge + VARNO_INTERRUPT_CONTROL, c.bridge);
      for (int i = 0; i < 10; ++i) {
        bench.PortWrite(kIo + VARNO_SOFTWARE_TRIGGER, 1, 0);
        bench.Sleep(1);
      }
    } else {
      Start(c.mode, c.bridge);
      bench.Sleep(1);
    }
    EXPECT_EQ(board->conversionsFinished(), 10u);
    EXPECT_EQ(board->interruptsRaised(), c.raised);
    EXPECT_EQ(driver->interruptCount(), c.counted);
    EXPECT_EQ(driver->heldSamples(), c.counted);
  }
}

// The service routine keeps every word, all 16 bits, oldest first; the count
// follows the pacer rate as virtual time passes; nothing of the kernel's
// work shows in the trace or takes bench time.
TEST_F(VarnoInterruptTest, ServiceRoutineKeepsWholeWordsInOrderAtThePacerRate) {
  ASSERT_TRUE(Resources());
  Start();
  const uint64_t startedAt = bench.NowNs() - 50 * daqsim::Clock::kIoCycleNs;  // the pacer's count landed
  const size_t traced = bench.trace().size();
  std::vector<uint16_t> all;
  for (int round = 1; round <= 4; ++round) {
    bench.Sleep(25);
    const uint64_t now = bench.NowNs();
    const uint32_t count = Count();
    EXPECT_EQ(bench.NowNs(), now) << "requests take no bench time";
    // One conversion per period, each result 8 us after its pacer edge.
    const double expected = double(now - startedAt) / kPeriodNs;
    EXPECT_NEAR(double(count), expected, 1.0);
    std::vector<uint16_t> words;
    const uint32_t fresh = count - uint32_t(all.size());
    ASSERT_TRUE(Read(fresh, &words));
    EXPECT_EQ(words[fresh], 0xAAAA);
    all.insert(all.end(), words.begin(), words.begin() + fresh);
    EXPECT_EQ(driver->heldSamples(), 0u);
  }
  EXPECT_EQ(bench.trace().size(), traced) << "the kernel's AdData reads are not in the trace";
  EXPECT_EQ(board->readCount(daqsim::VarnoRegister::kAdData), 0u);
  EXPECT_EQ(all, PacerWords());
  EXPECT_GT(all.size(), 900u);
  for (uint16_t w : all) EXPECT_EQ(w & 0xF000, 0xF000) << "bits 12-15 as the board drives them";
}

TEST_F(VarnoInterruptTest, ReadingMoreThanIsHeldFailsAndWritesNothing) {
  ASSERT_TRUE(Resources());
  Start();
  bench.Sleep(1);  // 10 samples
  std::vector<uint16_t> words;
  EXPECT_FALSE(Read(11, &words));
  for (uint16_t w : words) EXPECT_EQ(w, 0xAAAA);
  EXPECT_EQ(driver->heldSamples(), 10u);
  ASSERT_TRUE(Read(4, &words));
  ASSERT_TRUE(Read(6, &words));
  const std::vector<uint16_t> pacer = PacerWords();
  ASSERT_EQ(pacer.size(), 10u);
  EXPECT_EQ(std::vector<uint16_t>(words.begin(), words.begin() + 6),
            std::vector<uint16_t>(pacer.begin() + 4, pacer.end()));
  EXPECT_FALSE(Read(1, &words)) << "nothing held";
  ASSERT_TRUE(Read(0, &words)) << "no words: nothing to refuse";
}

// A full FIFO drops the newest word and counts an overrun; the interrupt is
// counted all the same, so count - fetched exceeds what is held by the
// overruns and such a fetch fails rather than hide the gap.
TEST_F(VarnoInterruptTest, FullFifoCountsOverrunsAndKeepsTheOldest) {
  EXPECT_EQ(driver->capacity(), VarnoDriver::kDefaultCapacity);
  EXPECT_EQ(VarnoDriver::kDefaultCapacity, 1048576u);
  driver->SetCapacity(16);
  ASSERT_TRUE(Resources());
  Start();
  bench.Sleep(4);  // 40 interrupts
  EXPECT_EQ(Count(), 40u);
  EXPECT_EQ(driver->heldSamples(), 16u);
  EXPECT_EQ(driver->overruns(), 24u);
  std::vector<uint16_t> words;
  EXPECT_FALSE(Read(40, &words));
  ASSERT_TRUE(Read(10, &words));
  const std::vector<uint16_t> pacer = PacerWords();
  EXPECT_EQ(std::vector<uint16_t>(words.begin(), words.begin() + 10),
            std::vector<uint16_t>(pacer.begin(), pacer.begin() + 10));
  // Room again for 10: the ring wraps, and later words follow in order.
  bench.Sleep(1);
  EXPECT_EQ(driver->heldSamples(), 16u);
  EXPECT_EQ(driver->overruns(), 24u);
  ASSERT_TRUE(Read(16, &words));
  std::vector<uint16_t> expected(pacer.begin() + 10, pacer.begin() + 16);
  const std::vector<uint16_t> later = PacerWords();
  expected.insert(expected.end(), later.begin() + 40, later.begin() + 50);
  EXPECT_EQ(std::vector<uint16_t>(words.begin(), words.begin() + 16), expected);
}

// STOP takes the interrupts due up to now, then no more until the next
// resources record; what is held stays to be fetched. A failing STOP stops
// nothing.
TEST_F(VarnoInterruptTest, StopEndsCountingAndKeepsWhatIsHeld) {
  ASSERT_TRUE(Resources());
  Start();
  bench.Sleep(2);
  driver->FailRequest(IOCTL_VARNO_STOP);
  EXPECT_FALSE(Stop());
  EXPECT_TRUE(driver->armed());
  driver->FailRequest(IOCTL_VARNO_STOP, false);
  ASSERT_TRUE(Stop());
  EXPECT_FALSE(driver->armed());
  EXPECT_EQ(driver->stops(), 1u);
  EXPECT_EQ(Count(), 20u);
  bench.Sleep(5);  // the pacer still runs; the board still interrupts
  EXPECT_EQ(board->interruptsRaised(), 70u);
  EXPECT_EQ(Count(), 20u);
  std::vector<uint16_t> words;
  ASSERT_TRUE(Read(20, &words));
  const std::vector<uint16_t> pacer = PacerWords();
  EXPECT_EQ(std::vector<uint16_t>(words.begin(), words.begin() + 20),
            std::vector<uint16_t>(pacer.begin(), pacer.begin() + 20));

  // A new record starts afresh.
  ASSERT_TRUE(Resources());
  EXPECT_EQ(Count(), 0u);
  bench.Sleep(1);
  EXPECT_EQ(Count(), 10u);
  EXPECT_EQ(driver->heldSamples(), 10u);
}

// Lost interrupts: neither counted nor kept; the stream skips those words.
TEST_F(VarnoInterruptTest, LostInterruptsAreNeitherCountedNorKept) {
  ASSERT_TRUE(Resources());
  driver->LoseInterrupts(3);
  Start();
  bench.Sleep(3);  // 30 interrupts raised
  EXPECT_EQ(board->interruptsRaised(), 30u);
  EXPECT_EQ(driver->lostInterrupts(), 10u);
  EXPECT_EQ(Count(), 20u);
  std::vector<uint16_t> words;
  ASSERT_TRUE(Read(20, &words));
  const std::vector<uint16_t> pacer = PacerWords();
  std::vector<uint16_t> expected;
  for (size_t i = 0; i < pacer.size(); ++i) {
    if ((i + 1) % 3 != 0) expected.push_back(pacer[i]);
  }
  EXPECT_EQ(std::vector<uint16_t>(words.begin(), words.begin() + 20), expected);
  driver->LoseInterrupts(1);
  bench.Sleep(1);
  EXPECT_EQ(Count(), 20u);
  EXPECT_EQ(driver->lostInterrupts(), 20u);
}

// Injected words count as serviced interrupts, held in order behind the real
// ones, all 16 bits kept.
TEST_F(VarnoInterruptTest, InjectedWordsAreCountedAndKeptVerbatim) {
  ASSERT_TRUE(Resources());
  driver->InjectSamples({0x0000, 0xF800, 0x0FFF, 0x1234});
  EXPECT_EQ(Count(), 4u);
  std::vector<uint16_t> words;
  ASSERT_TRUE(Read(4, &words));
  EXPECT_EQ(words, (std::vector<uint16_t>{0x0000, 0xF800, 0x0FFF, 0x1234, 0xAAAA}));
}

// Board or driver going away leaves no dangling link on the other side.
TEST_F(VarnoInterruptTest, RemovingTheBoardOrReplacingTheDriverUnbinds) {
  ASSERT_TRUE(Resources());
  Start();
  bench.Sleep(1);
  ASSERT_TRUE(bench.Remove({0, 7, 0}));
  EXPECT_EQ(driver->boundBoard(), nullptr);
  EXPECT_EQ(Count(), 10u) << "the interrupts up to the removal were serviced, and stay";

  board = &AddVarnoBoard({0, 7, 0}, kBridge, kIo, kIrq);
  ASSERT_TRUE(Resources());
  EXPECT_EQ(board->interruptSink(), driver);
  bench.InstallVarnoDevices();  // replaces the stand-ins
  EXPECT_EQ(board->interruptSink(), nullptr);
  Start();
  bench.Sleep(1);
  EXPECT_EQ(board->interruptsRaised(), 10u) << "raised, and nobody to service them";
}

}  // namespace
