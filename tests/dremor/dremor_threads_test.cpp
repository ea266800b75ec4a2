// Dremor called from several threads at once, the way applications do: a
// timer polls the interrupt count while a worker fetches the samples, and the
// user selects another board meanwhile. The library's lock makes the calls
// run one after the other, so every request reaches a handle that is open at
// that moment, no handle leaks or is closed twice, and what is fetched is the
// board's samples in order. (The bench itself is reached only through the
// library here, so the lock also keeps the bench's calls one at a time.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "dremor_fixture.h"

namespace daqtest {
namespace {

TEST_F(DremorTest, PollingFetchingAndSelectingFromThreeThreadsNeverReachAClosedHandle) {
  bench().SetTraceEnabled(false);
  Boards({{0, 7, 0}, {0, 8, 0}});
  ASSERT_EQ(Init(), DREMOR_OK);
  ASSERT_EQ(api.VARNO_ActiveBoard(0), DREMOR_OK);
  uint32_t user = 0;
  ASSERT_EQ(api.VARNO_InstallIrq(&user, 0), DREMOR_OK);
  ASSERT_EQ(api.VARNO_INT_AdStart(0, 0, 400), DREMOR_OK);

  std::atomic<bool> stop{false};
  std::atomic<unsigned> badStatuses{0};
  auto expectOneOf = [&](uint16_t status, std::initializer_list<uint16_t> allowed) {
    for (uint16_t a : allowed) {
      if (status == a) return;
    }
    ++badStatuses;
  };

  // The timer: the interrupt count, over and over.
  std::thread poller([&] {
    while (!stop) {
      uint32_t count = 0;
      expectOneOf(api.VARNO_GetIntCount(&count), {DREMOR_OK, DREMOR_ERR_INTERRUPT_REQUEST});
    }
  });
  // The worker: what the driver holds, raw and in volts alternately.
  std::vector<uint16_t> words(4096);
  std::vector<float> volts(4096);
  std::thread fetcher([&] {
    for (int round = 0; !stop; ++round) {
      uint32_t count = 0;
      if (api.VARNO_GetIntCount(&count) != DREMOR_OK) continue;
      const uint32_t n = count < 16 ? count : 16;  // a few at a time; fewer may be held by now
      const uint16_t status = round % 2 ? api.VARNO_GetBuffer(n, words.data())
                                        : api.VARNO_GetFloatBuffer(n, volts.data());
      expectOneOf(status, {DREMOR_OK, DREMOR_ERR_INTERRUPT_REQUEST});
    }
  });
  // The user: board 1, board 0, ... each selection closes the device, waits
  // 100 ms of bench time and opens the new board's.
  for (int i = 0; i < 40; ++i) {
    expectOneOf(api.VARNO_ActiveBoard(uint16_t(i % 2)), {DREMOR_OK});
    uint32_t again = 0;
    expectOneOf(api.VARNO_InstallIrq(&again, 0), {DREMOR_OK});
    expectOneOf(api.VARNO_INT_AdStart(0, 0, 400), {DREMOR_OK});
  }
  stop = true;
  poller.join();
  fetcher.join();

  EXPECT_EQ(badStatuses.load(), 0u);
  EXPECT_EQ(api.VARNO_INT_AdStop(), DREMOR_OK);
  EXPECT_NE(api.VARNO_DriverClose(), 0);
  EXPECT_EQ(bench().OpenHandleCount(), 0u) << "no handle leaked";
  for (const auto& r : bench().ioControls()) {
    ASSERT_FALSE(r.device.empty()) << "a request reached handle 0x" << std::hex << r.handle
                                   << " while it was not open";
  }
  EXPECT_EQ(bench().heap().outstanding(), 0u) << "every temporary buffer was released";
}

// Two threads initialise, query and close at once: each call sees the
// library whole, never a half-written board table or handle.
TEST_F(DremorTest, InitAndCloseFromTwoThreadsKeepTheHandlesStraight) {
  bench().SetTraceEnabled(false);
  Boards({{0, 7, 0}, {1, 4, 0}});
  std::atomic<unsigned> bad{0};
  auto worker = [&] {
    for (int i = 0; i < 200; ++i) {
      uint16_t count = 0;
      const uint16_t status = api.VARNO_DriverInit(&count);
      // Another thread may hold the exclusive interrupt device or close it
      // between the calls: 0 with both boards, or 101 (device in use).
      if (!(status == DREMOR_OK && count == 2) && status != DREMOR_ERR_NO_INTERRUPT_DEVICE) ++bad;
      uint16_t io = 0, dio = 0, ad = 0;
      const uint16_t config = api.VARNO_GetConfigAddressSpace(1, &io, &dio, &ad);
      if (config != DREMOR_OK || io != 0xE100 || dio != 0xE120 || ad != 0xE130) ++bad;
      api.VARNO_DriverClose();
    }
  };
  std::thread a(worker), b(worker);
  a.join();
  b.join();
  EXPECT_EQ(bad.load(), 0u);
  api.VARNO_DriverClose();
  EXPECT_EQ(bench().OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace daqtest
