// The bench used from several threads at once, the way a program with a
// polling thread and a fetching thread uses the libraries: port accesses,
// requests to the interrupt driver while its acquisition runs, opens and
// closes, the real-time clock, sleeps and the heap. Each case checks that
// nothing was lost or counted twice; the ThreadSanitizer build
// (linux-sim-tsan) checks that no access races.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "daqsim/bench.h"
#include "relay_board_map.h"
#include "varno_board_map.h"
#include "varno_ioctl.h"

namespace {

using daqsim::Bench;
using daqsim::PciLocation;

constexpr uint32_t kRead = 0x80000000u;
constexpr int kThreads = 4;

// Runs `work(thread)` on kThreads threads at once and waits for them.
template <class Work>
void OnThreads(Work work) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      work(t);
    });
  }
  go = true;
  for (auto& th : threads) th.join();
}

class BenchThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    bench.Reset();
    korvel = &bench.AddRelayBoard(daqsim::RelayModel::kKorvel, PciLocation{0, 5, 0});
    varno = &bench.AddMultifunctionBoard(PciLocation{0, 6, 0});
    varno->SetSignal(0, daqsim::Signal::Triangle(9.0, 130.0));
    bench.InstallVarnoDevices();
    kelvra = Open(daqsim::kPortAccessDeviceName);
    ASSERT_NE(kelvra, daqsim::kInvalidHandle);
  }
  void TearDown() override { bench.Reset(); }
  uintptr_t Open(const std::string& name) { return bench.OpenDevice(name.c_str(), kRead, 0, 3, 0x80); }

  Bench& bench = Bench::Instance();
  daqsim::RelayBoard* korvel = nullptr;
  daqsim::MultifunctionBoard* varno = nullptr;
  uintptr_t kelvra = daqsim::kInvalidHandle;
};

TEST_F(BenchThreads, PortAccessesFromEveryThreadAreEachTracedOnceAndTakeTheirTime) {
  constexpr int kEach = 20000;
  const uint16_t out = korvel->OutputPort(), in = korvel->InputPort();
  const uint16_t digital = varno->Port(daqsim::VarnoRegister::kDigitalIo);
  korvel->SetInputs(0x5AA5);
  std::atomic<int> wrongReads{0};
  OnThreads([&](int t) {
    for (int i = 0; i < kEach; ++i) {
      bench.PortWrite(out, 2, uint32_t(t << 12 | (i & 0xFFF)));
      if (bench.PortRead(in, 2) != 0x5AA5) ++wrongReads;
      bench.PortWrite(digital, 2, uint32_t(i));
      bench.PortRead(varno->Port(daqsim::VarnoRegister::kAdStatus), 1);
    }
  });
  const uint64_t total = uint64_t(kThreads) * kEach * 4;
  EXPECT_EQ(wrongReads.load(), 0);
  EXPECT_EQ(bench.portAccessCount(), total);
  ASSERT_EQ(bench.trace().size(), total);
  EXPECT_EQ(bench.NowNs(), total * daqsim::Clock::kIoCycleNs) << "each access took its cycle, none twice";
  for (size_t i = 1; i < bench.trace().size(); ++i) {
    ASSERT_EQ(bench.trace()[i].timeNs, bench.trace()[i - 1].timeNs + daqsim::Clock::kIoCycleNs) << i;
  }
  EXPECT_TRUE(bench.faults().empty());
}

TEST_F(BenchThreads, PollingTheCountWhileFetchingLosesAndDuplicatesNoSample) {
  // The library's pattern: one thread polls the interrupt count, another
  // fetches what arrived, a third keeps the machine busy (and its time
  // running) with port accesses, while the pacer converts into the
  // interrupt driver's FIFO.
  const uint16_t io = varno->IoBase(), bridge = varno->BridgeBase();
  const uintptr_t dev = Open("\\\\.\\VARNO0");
  ASSERT_NE(dev, daqsim::kInvalidHandle);
  const VarnoIrqResources rec{bridge, io, varno->interruptLine(), 0};
  ASSERT_TRUE(bench.DeviceIoControl(dev, IOCTL_VARNO_IRQ_RESOURCES, const_cast<VarnoIrqResources*>(&rec),
                                    sizeof rec, nullptr, 0, nullptr));
  bench.PortWrite(uint16_t(io + VARNO_AD_MODE_CONTROL), 1, VARNO_AD_MODE_INTERRUPT);
  bench.PortWrite(uint16_t(bridge + VARNO_INTERRUPT_CONTROL), 1, VARNO_INTERRUPT_ON);
  bench.PortWrite(uint16_t(io + VARNO_COUNTER_CONTROL), 1, VARNO_CW_MODE2_LOHI);
  bench.PortWrite(uint16_t(io + VARNO_COUNTER0), 1, 40);  // 10 us a conversion
  bench.PortWrite(uint16_t(io + VARNO_COUNTER0), 1, 0);

  const auto count = [&] {
    uint32_t n = 0;
    EXPECT_TRUE(bench.DeviceIoControl(dev, IOCTL_VARNO_GET_INT_COUNT, nullptr, 0, &n, 4, nullptr));
    return n;
  };
  std::atomic<bool> done{false};
  std::vector<uint16_t> fetched;
  std::atomic<int> badFetches{0};
  std::atomic<uint32_t> lastPolled{0};
  OnThreads([&](int t) {
    if (t == 0) {  // fetches
      uint32_t taken = 0;
      while (taken < 20000) {
        uint32_t ready = count() - taken;
        if (ready == 0) continue;
        std::vector<uint16_t> words(ready);
        if (!bench.DeviceIoControl(dev, IOCTL_VARNO_READ_SAMPLES, &ready, 4, words.data(), 2 * ready, nullptr)) {
          ++badFetches;
          break;
        }
        fetched.insert(fetched.end(), words.begin(), words.end());
        taken += ready;
      }
      done = true;
    } else if (t == 1) {  // polls: the count never goes back
      while (!done) {
        const uint32_t n = count();
        if (n < lastPolled) ++badFetches;
        lastPolled = n;
      }
    } else {  // keeps the machine busy
      while (!done) bench.PortRead(uint16_t(io + VARNO_AD_STATUS), 1);
    }
  });
  EXPECT_EQ(badFetches.load(), 0);
  ASSERT_GE(fetched.size(), 20000u);
  // Every word the driver kept is one the pacer converted, in order, each once.
  auto hold = bench.Hold();
  std::vector<uint16_t> converted;
  for (const auto& c : varno->conversionLog()) {
    if (c.pacer) converted.push_back(c.word);
  }
  const daqsim::VarnoDriver& driver = *bench.VarnoDevice(0);
  EXPECT_EQ(driver.stops(), 0u);
  ASSERT_GE(converted.size(), fetched.size());
  EXPECT_TRUE(std::equal(fetched.begin(), fetched.end(), converted.begin()));
  EXPECT_EQ(bench.VarnoDevice(0)->overruns(), 0u);
}

TEST_F(BenchThreads, OpensAndClosesFromEveryThreadKeepTheHandleTable) {
  constexpr int kEach = 5000;
  std::atomic<int> varnoHeld{0}, overlap{0}, varnoOpens{0};
  OnThreads([&](int t) {
    for (int i = 0; i < kEach; ++i) {
      const uintptr_t h = Open(daqsim::kPortAccessDeviceName);
      if (h == daqsim::kInvalidHandle) ++overlap;
      const uintptr_t v = Open("\\\\.\\VARNO0");  // exclusive: one holder at a time
      if (v != daqsim::kInvalidHandle) {
        ++varnoOpens;
        if (++varnoHeld > 1) ++overlap;
        --varnoHeld;
        bench.CloseHandle(v);
      }
      bench.CloseHandle(h);
    }
  });
  EXPECT_EQ(overlap.load(), 0);
  EXPECT_EQ(bench.OpenHandleCount(), 1u) << "the fixture's own handle";
  EXPECT_EQ(bench.badCloses(), 0u);
  auto hold = bench.Hold();
  EXPECT_EQ(bench.opens().size(), 1u + 2u * kThreads * kEach);
  EXPECT_EQ(bench.VarnoDevice(0)->totalOpens(), unsigned(varnoOpens.load()));
}

TEST_F(BenchThreads, TheRealTimeClockNeverGoesBackForAnyThread) {
  bench.SetRealTime(true);
  std::atomic<int> backwards{0};
  OnThreads([&](int t) {
    uint64_t last = 0;
    for (int i = 0; i < 20000; ++i) {
      const uint64_t now = t % 2 ? bench.NowNs() : (bench.PortRead(korvel->InputPort(), 2), bench.NowNs());
      if (now < last) ++backwards;
      last = now;
      if (i % 5000 == 0) bench.Sleep(1);
    }
  });
  EXPECT_EQ(backwards.load(), 0);
  EXPECT_EQ(bench.sleepCalls(), unsigned(kThreads * 4));
  EXPECT_GE(bench.NowNs(), uint64_t(kThreads / 2) * 20000 * daqsim::Clock::kIoCycleNs)
      << "every access took at least its cycle";
}

TEST_F(BenchThreads, TheHeapCountsEveryBlockOfEveryThread) {
  constexpr int kEach = 20000;
  OnThreads([&](int) {
    for (int i = 0; i < kEach; ++i) bench.HeapFree(bench.HeapAlloc(size_t(16 + i % 64)));
  });
  const daqsim::HeapStats heap = bench.heap();
  EXPECT_EQ(heap.allocations, uint64_t(kThreads) * kEach);
  EXPECT_EQ(heap.releases, uint64_t(kThreads) * kEach);
}

}  // namespace
