// Dremor's interrupt-driven acquisition on the bench: the library's six
// exports against the board and the interrupt driver's stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "dremor_fixture.h"
#include "varno_ranges.h"
#include "varno_ioctl.h"

namespace daqtest {
namespace {

using daqsim::AccessDir;
using daqsim::AdConversion;
using daqsim::VarnoDriver;

constexpr uint16_t kBridge = kSelectedBridge, kIo = kSelectedIo;
constexpr uint32_t kCountUntouched = 0xDEADBEEFu;

float Untouched() { return UntouchedFloat(); }
bool AllUntouched(const std::vector<float>& v) {
  return std::all_of(v.begin(), v.end(), [](float f) { return Bits(f) == kFloatUntouched; });
}

// The volts of a 12-bit code on +-range the long way: (code - 2048) x 1/2048
// x range in double precision (exact), rounded once to single precision.
float DoubleVolts(int code, float range) {
  return float((double(code) - 2048.0) * (1.0 / 2048.0) * double(range));
}

using StartSlots = uint16_t(DREMOR_CALL*)(uint32_t, uint32_t, uint32_t);

class InterruptTest : public DremorTest {
 protected:
  void SetUp() override {
    DremorTest::SetUp();
    board = &SelectedBoard();
    driver = bench().VarnoDevice(0);
    ASSERT_NE(driver, nullptr);
  }
  uint16_t Install(uint32_t userParam = 0) {
    uint32_t user = 0;
    return api.VARNO_InstallIrq(&user, userParam);
  }
  // The words of the conversions that interrupted by `untilNs`, oldest first.
  std::vector<uint16_t> InterruptWords(uint64_t untilNs = UINT64_MAX) {
    std::vector<uint16_t> out;
    for (const AdConversion& c : board->conversionLog()) {
      if (c.pacer && (c.mode & 0x04) && c.doneNs <= untilNs) out.push_back(c.word);
    }
    return out;
  }
  size_t Requests() const { return bench().ioControls().size(); }
  const daqsim::IoControlRecord& LastRequest() const { return bench().ioControls().back(); }

  MultifunctionBoard* board = nullptr;
  VarnoDriver* driver = nullptr;
};

// ---- The whole cycle ------------------------------------------------------------------------

// A 250 Hz sine of 0.8 V peak on channel 3, +-1 V, paced at 10 kHz: fetched
// while running, alternately raw and in volts, then after the stop. The
// interrupt count follows the pacer, and what comes back is the sine.
TEST_F(InterruptTest, FullCycleBringsBackTheSignalAtThePacerRate) {
  constexpr double kSineHz = 250.0, kPeak = 0.8, kRateHz = 4e6 / 400;
  board->SetSignal(3, daqsim::Signal::Sine(kPeak, kSineHz, 30.0));
  ASSERT_EQ(Install(), DREMOR_OK);
  ASSERT_EQ(api.VARNO_INT_AdStart(3, 17, 400), DREMOR_OK);
  // The pacer's count landed as the call returned; it is loaded on the next
  // clock edge, and result k is in AdData k periods and one conversion later.
  const uint64_t landedNs = bench().NowNs();
  const uint64_t firstNs = landedNs + 250 + 8000;
  constexpr uint64_t kPeriodNs = 100000;

  std::vector<uint16_t> words;  // every sample fetched, as a word (raw) ...
  std::vector<float> volts;     // ... and as volts where fetched in volts
  std::vector<bool> asVolts;
  uint32_t fetched = 0;
  for (int round = 0; round < 8; ++round) {
    bench().Sleep(20 + 3 * round);
    uint32_t count = kCountUntouched;
    ASSERT_EQ(api.VARNO_GetIntCount(&count), DREMOR_OK);
    EXPECT_EQ(count, (bench().NowNs() - firstNs) / kPeriodNs) << "counter clock / divisor x time";
    const double ideal = double(bench().NowNs() - landedNs) * 1e-9 * kRateHz;
    EXPECT_TRUE(count <= ideal && count + 1.001 > ideal) << count << " vs " << ideal;
    const uint32_t n = count - fetched;
    ASSERT_GT(n, 150u);
    if (round % 2 == 0) {
      std::vector<uint16_t> raw(n + 1, kUntouched);
      ASSERT_EQ(api.VARNO_GetBuffer(n, raw.data()), DREMOR_OK);
      EXPECT_EQ(raw[n], kUntouched);
      words.insert(words.end(), raw.begin(), raw.begin() + n);
      volts.insert(volts.end(), n, 0.0f);
      asVolts.insert(asVolts.end(), n, false);
    } else {
      std::vector<float> v(n + 1, Untouched());
      ASSERT_EQ(api.VARNO_GetFloatBuffer(n, v.data()), DREMOR_OK);
      EXPECT_EQ(Bits(v[n]), kFloatUntouched);
      volts.insert(volts.end(), v.begin(), v.begin() + n);
      words.insert(words.end(), n, 0);
      asVolts.insert(asVolts.end(), n, true);
    }
    fetched += n;
  }
  bench().Sleep(3);
  ASSERT_EQ(api.VARNO_INT_AdStop(), DREMOR_OK);
  const uint64_t stoppedNs = bench().NowNs();
  EXPECT_TRUE(board->timer().Parked(0));
  EXPECT_EQ(driver->stops(), 1u);
  uint32_t count = 0;
  ASSERT_EQ(api.VARNO_GetIntCount(&count), DREMOR_OK);
  std::vector<float> tail(count - fetched);
  ASSERT_EQ(api.VARNO_GetFloatBuffer(count - fetched, tail.data()), DREMOR_OK);
  volts.insert(volts.end(), tail.begin(), tail.end());
  words.insert(words.end(), tail.size(), 0);
  asVolts.insert(asVolts.end(), tail.size(), true);
  bench().Sleep(10);
  uint32_t after = 0;
  ASSERT_EQ(api.VARNO_GetIntCount(&after), DREMOR_OK);
  EXPECT_EQ(after, count) << "nothing after the stop";
  std::vector<uint16_t> none(1, kUntouched);
  EXPECT_EQ(api.VARNO_GetBuffer(1, none.data()), DREMOR_ERR_INTERRUPT_REQUEST) << "all fetched";
  EXPECT_EQ(none[0], kUntouched);
  EXPECT_NE(api.VARNO_DriverClose(), 0);

  // Sample for sample what the board converted, raw words unmasked.
  const std::vector<uint16_t> expected = InterruptWords(stoppedNs);
  ASSERT_EQ(expected.size(), size_t(count));
  ASSERT_EQ(words.size(), size_t(count));
  std::vector<double> signal(count);
  for (size_t i = 0; i < count; ++i) {
    const int code = expected[i] & 0x0FFF;
    if (asVolts[i]) {
      EXPECT_EQ(Bits(volts[i]), Bits(DoubleVolts(code, 1.0f))) << i;
    } else {
      EXPECT_EQ(words[i], expected[i]) << i;
      EXPECT_EQ(words[i] & 0xF000, 0xF000) << "bits 12-15 handed over as delivered";
    }
    signal[i] = asVolts[i] ? double(volts[i]) : (code - 2048) / 2048.0;
  }
  // Frequency from the upward zero crossings, amplitude from the extremes.
  const double seconds = count / kRateHz;
  int crossings = 0;
  for (size_t i = 1; i < count; ++i) crossings += signal[i - 1] < 0 && signal[i] >= 0;
  EXPECT_NEAR(crossings / seconds, kSineHz, 1.5 / seconds);
  const auto [lo, hi] = std::minmax_element(signal.begin(), signal.end());
  EXPECT_NEAR(*hi, kPeak, 0.002);
  EXPECT_NEAR(*lo, -kPeak, 0.002);
}

// ---- VARNO_INT_AdStart and VARNO_INT_AdStop ------------------------------------------------

// (3, 18, 1000): park, channel, gain, settling of 560 clocks, interrupt mode,
// bridge interrupt on, pacer 1000; only the low bits of each slot count.
TEST_F(InterruptTest, StartWritesItsRegistersInOrder) {
  auto start = SlotCast<StartSlots>(api.VARNO_INT_AdStart);
  ASSERT_EQ(start(0xABCDEF03u, 0x56780012u, 0x9ABC03E8u), DREMOR_OK);
  const std::vector<Named> trace = NamedTrace();
  ASSERT_GT(trace.size(), 20u);
  const std::vector<Named> head = {
      W8(kIo + 0x0C, 0x34, "CounterControl"), W8(kIo + 0x00, 0x01, "Counter0"),
      W8(kIo + 0x00, 0x00, "Counter0"),       W8(kIo + 0x10, 0x03, "ChannelSelect"),
      W8(kIo + 0x14, 0x12, "GainControl"),    W8(kIo + 0x0C, 0xB0, "CounterControl"),
      W8(kIo + 0x08, 0x30, "Counter2"),       W8(kIo + 0x08, 0x02, "Counter2"),
  };
  const std::vector<Named> tail = {
      W8(kIo + 0x18, 0x04, "AdModeControl"),     W8(kBridge + 0x4C, 0x43, "InterruptControl"),
      W8(kIo + 0x0C, 0x34, "CounterControl"),    W8(kIo + 0x00, 0xE8, "Counter0"),
      W8(kIo + 0x00, 0x03, "Counter0"),
  };
  EXPECT_EQ(std::vector<Named>(trace.begin(), trace.begin() + head.size()), head);
  EXPECT_EQ(std::vector<Named>(trace.end() - tail.size(), trace.end()), tail);
  // In between, the settling wait: latch, two reads of counter 2, repeated
  // until the high byte shows bit 7, 560 + 2 clocks after the load.
  const size_t waitEnd = trace.size() - tail.size();
  for (size_t i = head.size(); i < waitEnd; i += 3) {
    EXPECT_EQ(trace[i], W8(kIo + 0x0C, 0x80, "CounterControl")) << i;
    EXPECT_EQ(trace[i + 1].reg, "Counter2");
    EXPECT_EQ(trace[i + 2].reg, "Counter2");
    EXPECT_EQ(trace[i + 2].access.value >= 0x80, i + 3 == waitEnd) << i;
  }
  const auto& raw = bench().trace();
  EXPECT_GE(raw[waitEnd - 1].timeNs - raw[7].timeNs, 562u * 250u) << "560 + 2 clocks at 4 MHz";
  EXPECT_EQ(board->converter().Mode(), 0x04) << "interrupt on end of conversion";
  EXPECT_EQ(board->interruptControl(), 0x43);
  EXPECT_EQ(Requests(), 0u) << "no request to the driver";

  // The code was stored: the fetch converts on +-0.1 V.
  driver->InjectSamples({0x0000});
  float v = Untouched();
  ASSERT_EQ(api.VARNO_GetFloatBuffer(1, &v), DREMOR_OK);
  EXPECT_EQ(Bits(v), 0xBDCCCCCDu);
}

TEST_F(InterruptTest, StartSettlesForTheCountOfItsCode) {
  std::vector<uint16_t> codes;
  for (const ExpectedRange& r : kExpectedRanges) codes.push_back(r.code);
  codes.insert(codes.end(), std::begin(kCodesWithoutARow), std::end(kCodesWithoutARow));
  for (const uint16_t code : codes) {
    SCOPED_TRACE(::testing::Message() << "code " << code);
    bench().ClearTrace();
    ASSERT_EQ(api.VARNO_INT_AdStart(1, code, 100), DREMOR_OK);
    const auto& t = bench().trace();
    EXPECT_EQ(t[4].value, code & 0xFF) << "the low byte reaches GainControl";
    EXPECT_EQ(t[6].value | t[7].value << 8, ExpectedSettling(code));
  }
}

// Stop parks the pacer first, whatever the driver then answers.
TEST_F(InterruptTest, StopParksThePacerEvenWhenTheDriverFails) {
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "stop request fails" : "stop request succeeds");
    ASSERT_EQ(Install(), DREMOR_OK);
    ASSERT_EQ(api.VARNO_INT_AdStart(0, 0, 400), DREMOR_OK);
    bench().Sleep(1);
    driver->FailRequest(IOCTL_VARNO_STOP, fail);
    bench().ClearTrace();
    const size_t before = Requests();
    EXPECT_EQ(api.VARNO_INT_AdStop(), fail ? DREMOR_ERR_INTERRUPT_REQUEST : DREMOR_OK);
    EXPECT_EQ(NamedTrace(), (std::vector<Named>{W8(kIo + 0x0C, 0x34, "CounterControl"),
                                                W8(kIo + 0x00, 0x01, "Counter0"), W8(kIo + 0x00, 0x00, "Counter0")}));
    EXPECT_TRUE(board->timer().Parked(0));
    ASSERT_EQ(Requests(), before + 1);
    EXPECT_EQ(LastRequest().code, IOCTL_VARNO_STOP);
    EXPECT_EQ(LastRequest().inSize, 0u);
    EXPECT_EQ(LastRequest().outSize, 0u);
    EXPECT_EQ(driver->armed(), fail);
    EXPECT_EQ(board->interruptControl(), 0x43) << "left for the next selection";
    driver->FailRequest(IOCTL_VARNO_STOP, false);
  }
}

// Where no port may be touched, start refuses with 13 and keeps the code it
// had. Stop cannot park the pacer then, but the driver is still told to stop
// (it runs the acquisition started before, and nothing else could stop it);
// the park is owed and made before the library next touches the board.
TEST_F(InterruptTest, WithoutPortAccessStartRefusesAndStopStillStopsTheDriver) {
  ASSERT_EQ(Install(), DREMOR_OK);
  ASSERT_EQ(api.VARNO_INT_AdStart(0, 0, 400), DREMOR_OK);
  bench().Sleep(1);
  ASSERT_GT(driver->interruptCount(), 0u);
  bench().PortAccessDriver().SetRefuseOpen(true);
  uint16_t count = 0;
  ASSERT_EQ(api.VARNO_DriverInit(&count), DREMOR_ERR_NO_DRIVER);  // interrupt device only
  bench().ClearTrace();
  const size_t before = Requests();
  EXPECT_EQ(api.VARNO_INT_AdStart(2, 17, 400), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(Requests(), before) << "start sends nothing";
  // The re-init bound a new driver handle: the driver of board 0 still
  // serves the acquisition started above.
  ASSERT_TRUE(driver->armed());
  EXPECT_EQ(api.VARNO_INT_AdStop(), DREMOR_OK);
  ASSERT_EQ(Requests(), before + 1);
  EXPECT_EQ(LastRequest().code, IOCTL_VARNO_STOP);
  EXPECT_FALSE(driver->armed()) << "the driver stopped counting";
  EXPECT_TRUE(bench().trace().empty()) << "no port access without the port-access driver";
  EXPECT_FALSE(board->timer().Parked(0)) << "the pacer could not be parked";

  // A failing stop is reported as such.
  driver->FailRequest(IOCTL_VARNO_STOP);
  EXPECT_EQ(api.VARNO_INT_AdStop(), DREMOR_ERR_INTERRUPT_REQUEST);
  driver->FailRequest(IOCTL_VARNO_STOP, false);

  // The fetch still works (no port needed), under the code 0 of the start.
  const uint32_t held = uint32_t(driver->heldSamples());
  std::vector<float> v(held, Untouched());
  ASSERT_EQ(api.VARNO_GetFloatBuffer(held, v.data()), DREMOR_OK);

  // With port access back, the owed park comes first, before the library's
  // next access to the board.
  bench().PortAccessDriver().SetRefuseOpen(false);
  ASSERT_EQ(api.VARNO_DriverInit(&count), DREMOR_OK);
  bench().ClearTrace();
  api.VARNO_Do(0x0001);
  EXPECT_EQ(NamedTrace(), (std::vector<Named>{W8(kIo + 0x0C, 0x34, "CounterControl"), W8(kIo + 0x00, 0x01, "Counter0"),
                                              W8(kIo + 0x00, 0x00, "Counter0"),
                                              Named{Out(2, kIo + 0x20, 0x0001), "DigitalIo"}}));
  EXPECT_TRUE(board->timer().Parked(0));
}

// Neither port access nor an interrupt device: start and stop do nothing and
// answer 13.
TEST_F(InterruptTest, WithNeitherPortNorDeviceStartAndStopDoNothing) {
  ASSERT_EQ(Install(), DREMOR_OK);
  ASSERT_NE(api.VARNO_DriverClose(), 0);
  bench().ClearTrace();
  const size_t before = Requests();
  EXPECT_EQ(api.VARNO_INT_AdStart(2, 17, 400), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_INT_AdStop(), DREMOR_ERR_BOARD_RANGE);
  EXPECT_TRUE(bench().trace().empty());
  EXPECT_EQ(Requests(), before);
  // The fetch needs neither: it fails at the missing device, under the old
  // code's range.
  float v = Untouched();
  EXPECT_EQ(api.VARNO_GetFloatBuffer(1, &v), DREMOR_ERR_INTERRUPT_REQUEST);
  EXPECT_EQ(Bits(v), kFloatUntouched);
}

// ---- VARNO_InstallIrq ---------------------------------------------------------------------------

TEST_F(InterruptTest, InstallSendsTheUserValueThenTheResourcesRecord) {
  uint8_t user[4] = {0x78, 0x56, 0x34, 0x12};
  ASSERT_EQ(api.VARNO_InstallIrq(user, 0xCAFEF00Du), DREMOR_OK);
  ASSERT_EQ(bench().ioControls().size(), 2u);
  const auto& r = bench().ioControls();
  EXPECT_EQ(r[0].code, 0x220000u);
  EXPECT_EQ(r[0].inSize, 4u);
  EXPECT_EQ(r[0].outSize, 0u);
  EXPECT_EQ(r[1].code, 0x220014u);
  EXPECT_EQ(r[1].inSize, 16u);
  EXPECT_EQ(r[1].outSize, 0u);
  EXPECT_EQ(*driver->userValue(), (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));
  const std::array<uint8_t, 16> record = {0x00, 0xD0, 0x00, 0x00, 0x00, 0xE0, 0x00, 0x00,
                                          0x05, 0x00, 0x00, 0x00, 0x0D, 0xF0, 0xFE, 0xCA};
  EXPECT_EQ(*driver->resourcesRecord(), record) << "BridgeBase, IoBase, IRQ line, parameter";
  EXPECT_EQ(driver->boundBoard(), board);
  EXPECT_TRUE(bench().trace().empty()) << "the board is not touched";
}

TEST_F(InterruptTest, InstallFailsWith111AndStopsAtTheFirstFailure) {
  const struct {
    const char* name;
    uint32_t failing;  // 0: none
    uint16_t status;
    size_t requests;
  } cases[] = {
      {"both succeed", 0, DREMOR_OK, 2},
      {"user value refused", IOCTL_VARNO_IRQ_USER_VALUE, DREMOR_ERR_INSTALL_IRQ, 1},
      {"resources refused", IOCTL_VARNO_IRQ_RESOURCES, DREMOR_ERR_INSTALL_IRQ, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.failing) driver->FailRequest(c.failing);
    bench().ClearIoControls();
    EXPECT_EQ(Install(), c.status);
    ASSERT_EQ(bench().ioControls().size(), c.requests);
    EXPECT_EQ(bench().ioControls()[0].code, IOCTL_VARNO_IRQ_USER_VALUE);
    if (c.failing) driver->FailRequest(c.failing, false);
  }
  // Without an interrupt device nothing is sent.
  api.VARNO_DriverClose();
  bench().ClearIoControls();
  EXPECT_EQ(Install(), DREMOR_ERR_INSTALL_IRQ);
  EXPECT_TRUE(bench().ioControls().empty());
}

// Before any selection the record holds zeros: the driver knows no board
// there and refuses it.
TEST_F(InterruptTest, InstallBeforeAnySelectionNamesNoBoard) {
  api.VARNO_DriverClose();
  Reload();
  uint16_t count = 0;
  ASSERT_EQ(api.VARNO_DriverInit(&count), DREMOR_OK);
  EXPECT_EQ(Install(7), DREMOR_ERR_INSTALL_IRQ);
  EXPECT_EQ(driver->boundBoard(), nullptr);
  EXPECT_EQ(bench().ioControls().back().inSize, 16u);
}

// ---- VARNO_GetIntCount ------------------------------------------------------------------------

TEST_F(InterruptTest, IntCountIsStoredOnlyOnSuccess) {
  driver->SetInterruptCount(0x00ABCDEFu);
  uint32_t count = kCountUntouched;
  ASSERT_EQ(api.VARNO_GetIntCount(&count), DREMOR_OK);
  EXPECT_EQ(count, 0x00ABCDEFu);
  EXPECT_EQ(LastRequest().code, IOCTL_VARNO_GET_INT_COUNT);
  EXPECT_EQ(LastRequest().inSize, 0u);
  EXPECT_EQ(LastRequest().outSize, 4u);

  driver->FailRequest(IOCTL_VARNO_GET_INT_COUNT);
  count = kCountUntouched;
  EXPECT_EQ(api.VARNO_GetIntCount(&count), DREMOR_ERR_INTERRUPT_REQUEST);
  EXPECT_EQ(count, kCountUntouched);
  driver->FailRequest(IOCTL_VARNO_GET_INT_COUNT, false);
  api.VARNO_DriverClose();
  EXPECT_EQ(api.VARNO_GetIntCount(&count), DREMOR_ERR_INTERRUPT_REQUEST);
  EXPECT_EQ(count, kCountUntouched);
}

// ---- VARNO_GetBuffer ------------------------------------------------------------------------------

TEST_F(InterruptTest, RawFetchHandsOverWordsAsDelivered) {
  const std::vector<uint16_t> injected = {0xF800, 0x0FFF, 0x1234, 0xFFFF, 0x0000, 0x8001};
  driver->InjectSamples(injected);
  std::vector<uint16_t> got(7, kUntouched);
  ASSERT_EQ(api.VARNO_GetBuffer(6, got.data()), DREMOR_OK);
  EXPECT_EQ(std::vector<uint16_t>(got.begin(), got.begin() + 6), injected);
  EXPECT_EQ(got[6], kUntouched);
  EXPECT_EQ(LastRequest().code, IOCTL_VARNO_READ_SAMPLES);
  EXPECT_EQ(LastRequest().inSize, 4u);
  EXPECT_EQ(LastRequest().outSize, 12u);

  // count 0: a request for nothing, and success.
  ASSERT_EQ(api.VARNO_GetBuffer(0, got.data()), DREMOR_OK);
  EXPECT_EQ(LastRequest().code, IOCTL_VARNO_READ_SAMPLES);
  EXPECT_EQ(LastRequest().inSize, 4u);
  EXPECT_EQ(LastRequest().outSize, 0u);
  EXPECT_TRUE(LastRequest().ok);
  EXPECT_EQ(got[0], 0xF800);
}

TEST_F(InterruptTest, RawFetchFailuresLeaveTheBufferUntouched) {
  driver->InjectSamples({1, 2, 3});
  const struct {
    const char* name;
    uint32_t count;
    bool failRequest;
    bool sent;
  } cases[] = {
      {"more than held", 4, false, true},
      {"request fails", 2, true, true},
      {"count 2^31: 2 x count would wrap", 0x80000000u, false, false},
      {"count 2^32 - 1", 0xFFFFFFFFu, false, false},
      {"count 2^31 + 1: would ask for 2 bytes", 0x80000001u, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    driver->FailRequest(IOCTL_VARNO_READ_SAMPLES, c.failRequest);
    const size_t before = Requests();
    std::vector<uint16_t> got(4, kUntouched);
    EXPECT_EQ(api.VARNO_GetBuffer(c.count, got.data()), DREMOR_ERR_INTERRUPT_REQUEST);
    EXPECT_EQ(Requests(), before + (c.sent ? 1 : 0));
    for (uint16_t w : got) EXPECT_EQ(w, kUntouched);
    EXPECT_EQ(driver->heldSamples(), 3u);
  }
}

// With the active board not below the board count both fetches answer 13
// before any request or allocation.
TEST_F(InterruptTest, FetchesCheckTheActiveBoardAgainstTheBoardCount) {
  ASSERT_TRUE(bench().Remove(PciLocation{0, 7, 0}));
  uint16_t count = kUntouched;
  ASSERT_EQ(api.VARNO_DriverInit(&count), DREMOR_ERR_NO_BOARD);
  bench().ClearIoControls();
  driver->InjectSamples({1});
  uint16_t word = kUntouched;
  std::vector<float> v(1, Untouched());
  EXPECT_EQ(api.VARNO_GetBuffer(1, &word), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(api.VARNO_GetFloatBuffer(1, v.data()), DREMOR_ERR_BOARD_RANGE);
  EXPECT_EQ(word, kUntouched);
  EXPECT_TRUE(AllUntouched(v));
  EXPECT_TRUE(bench().ioControls().empty());
  EXPECT_EQ(bench().heap().allocations, 0u);
  // The others have no such check.
  uint32_t ints = 0;
  EXPECT_EQ(api.VARNO_GetIntCount(&ints), DREMOR_OK);
  EXPECT_EQ(ints, 1u);
  EXPECT_EQ(bench().ioControls().size(), 1u);
}

// ---- VARNO_GetFloatBuffer ---------------------------------------------------------------------

// Every path: status, volts untouched unless 0, the request sent or not, and
// exactly one allocation released again whenever one was made.
TEST_F(InterruptTest, FloatFetchReleasesItsBufferOnEveryPath) {
  const struct {
    const char* name;
    uint32_t count;
    bool failRequest, refuseHeap, closeDevice;
    uint16_t status;
    bool sent, allocated;
  } cases[] = {
      {"success", 3, false, false, false, DREMOR_OK, true, true},
      {"count 0", 0, false, false, false, DREMOR_OK, true, true},
      {"request fails", 3, true, false, false, DREMOR_ERR_INTERRUPT_REQUEST, true, true},
      {"more than held", 5, false, false, false, DREMOR_ERR_INTERRUPT_REQUEST, true, true},
      {"heap refuses", 3, false, true, false, DREMOR_ERR_NO_MEMORY, false, false},
      {"count 2^31", 0x80000000u, false, false, false, DREMOR_ERR_NO_MEMORY, false, false},
      {"count 2^31 + 1", 0x80000001u, false, false, false, DREMOR_ERR_NO_MEMORY, false, false},
      {"count 2^32 - 1", 0xFFFFFFFFu, false, false, false, DREMOR_ERR_NO_MEMORY, false, false},
      {"no interrupt device (last: it stays closed)", 3, false, false, true, DREMOR_ERR_INTERRUPT_REQUEST,
       false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    driver->SetCapacity(16);  // nothing held
    driver->InjectSamples({0x0000, 0x0800, 0x0FFF, 0xF000});
    driver->FailRequest(IOCTL_VARNO_READ_SAMPLES, c.failRequest);
    if (c.refuseHeap) bench().FailNextAllocations(1);
    if (c.closeDevice) api.VARNO_DriverClose();
    bench().ClearIoControls();
    const daqsim::HeapStats heapBefore = bench().heap();
    std::vector<float> v(5, Untouched());
    EXPECT_EQ(api.VARNO_GetFloatBuffer(c.count, v.data()), c.status);
    const daqsim::HeapStats heap = bench().heap();
    EXPECT_EQ(heap.allocations - heapBefore.allocations, c.allocated ? 1u : 0u);
    EXPECT_EQ(heap.releases - heapBefore.releases, c.allocated ? 1u : 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
    EXPECT_EQ(heap.refused - heapBefore.refused, c.refuseHeap ? 1u : 0u);
    ASSERT_EQ(bench().ioControls().size(), c.sent ? 1u : 0u);
    if (c.sent) {
      EXPECT_EQ(LastRequest().code, IOCTL_VARNO_READ_SAMPLES);
      EXPECT_EQ(LastRequest().inSize, 4u);
      EXPECT_EQ(LastRequest().outSize, 2 * c.count);
    }
    if (c.status == DREMOR_OK && c.count > 0) {
      EXPECT_EQ(v[0], -10.0f);
      EXPECT_EQ(v[1], 0.0f);
      EXPECT_EQ(v[2], 9.9951171875f);
      EXPECT_EQ(Bits(v[3]), kFloatUntouched);
    } else {
      EXPECT_TRUE(AllUntouched(v));
    }
    EXPECT_EQ(driver->heldSamples(), c.status == DREMOR_OK ? 4u - c.count : 4u);
    driver->FailRequest(IOCTL_VARNO_READ_SAMPLES, false);
  }
}

// Every 12-bit code under every configuration code (the table's rows and
// codes without a row), whatever bits 12-15 hold: bit for bit the double
// computation rounded once, NaN where the range is unknown.
TEST_F(InterruptTest, FloatFetchConvertsEveryCodeBitExactlyUnderEveryRange) {
  std::vector<uint16_t> configCodes;
  for (const ExpectedRange& r : kExpectedRanges) configCodes.push_back(r.code);
  configCodes.insert(configCodes.end(), std::begin(kCodesWithoutARow), std::end(kCodesWithoutARow));
  bench().SetTraceEnabled(false);
  std::vector<uint16_t> words(4096);
  for (int code = 0; code < 4096; ++code) words[code] = uint16_t(code | (((code * 7) & 0xF) << 12));
  for (const uint16_t configCode : configCodes) {
    SCOPED_TRACE(::testing::Message() << "configuration code 0x" << std::hex << configCode);
    const float range = ExpectedFullScale(configCode);
    ASSERT_EQ(api.VARNO_SetChannelConfig(0, configCode), DREMOR_OK);
    driver->InjectSamples(words);
    std::vector<float> v(4096, Untouched());
    ASSERT_EQ(api.VARNO_GetFloatBuffer(4096, v.data()), DREMOR_OK);
    unsigned mismatches = 0;
    for (int code = 0; code < 4096; ++code) {
      const float want = DoubleVolts(code, range);
      const bool same = std::isnan(range) ? std::isnan(v[code]) && (Bits(v[code]) & 0x7FC00000u) == 0x7FC00000u
                                              : Bits(v[code]) == Bits(want);
      if (!same && ++mismatches <= 5) ADD_FAILURE() << "code " << code << ": " << v[code] << " vs " << want;
    }
    EXPECT_EQ(mismatches, 0u);
  }
  // Counts that are not a multiple of the conversion's block of 16.
  ASSERT_EQ(api.VARNO_SetChannelConfig(0, 18), DREMOR_OK);
  for (uint32_t n = 1; n <= 35; ++n) {
    driver->InjectSamples(std::vector<uint16_t>(words.begin() + 100 * n, words.begin() + 100 * n + n));
    std::vector<float> v(n + 1, Untouched());
    ASSERT_EQ(api.VARNO_GetFloatBuffer(n, v.data()), DREMOR_OK);
    for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(Bits(v[i]), Bits(DoubleVolts(int(100 * n + i), 0.1f))) << n;
    EXPECT_EQ(Bits(v[n]), kFloatUntouched) << n;
  }
}

TEST_F(InterruptTest, NamedWordsAndTheirVolts) {
  // Before any configuration: code 0, +-10 V. 0xF800 is 0 V and comes back raw.
  driver->InjectSamples({0xF800, 0xF800});
  float v = Untouched();
  ASSERT_EQ(api.VARNO_GetFloatBuffer(1, &v), DREMOR_OK);
  EXPECT_EQ(Bits(v), Bits(0.0f));
  uint16_t w = kUntouched;
  ASSERT_EQ(api.VARNO_GetBuffer(1, &w), DREMOR_OK);
  EXPECT_EQ(w, 0xF800);

  const struct {
    uint16_t code;
    float low, mid, high;
  } cases[] = {{0, -10.0f, 0.0f, 9.9951171875f}, {3, -1.25f, 0.0f, 1.2493896484375f}, {17, -1.0f, 0.0f, 0.99951171875f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_EQ(api.VARNO_SetChannelConfig(0, c.code), DREMOR_OK);
    driver->InjectSamples({0x0000, 0x0800, 0x0FFF});
    float got[3];
    ASSERT_EQ(api.VARNO_GetFloatBuffer(3, got), DREMOR_OK);
    EXPECT_EQ(got[0], c.low);
    EXPECT_EQ(got[1], c.mid);
    EXPECT_EQ(got[2], c.high);
  }
  ASSERT_EQ(api.VARNO_SetChannelConfig(0, 18), DREMOR_OK);
  driver->InjectSamples({0x0000});
  ASSERT_EQ(api.VARNO_GetFloatBuffer(1, &v), DREMOR_OK);
  EXPECT_EQ(Bits(v), 0xBDCCCCCDu);
}

// The range is that of the configuration code at the fetch, not at the
// sampling: samples taken on +-10 V and fetched after a change to +-1 V are
// converted on +-1 V.
TEST_F(InterruptTest, FloatFetchUsesTheConfigurationCodeCurrentAtTheFetch) {
  board->SetSignal(2, daqsim::Signal::Dc(0.5));
  ASSERT_EQ(Install(), DREMOR_OK);
  ASSERT_EQ(api.VARNO_INT_AdStart(2, 0, 400), DREMOR_OK);
  bench().Sleep(2);
  uint32_t count = 0;
  ASSERT_EQ(api.VARNO_GetIntCount(&count), DREMOR_OK);
  ASSERT_GE(count, 10u);
  float before[5];
  ASSERT_EQ(api.VARNO_GetFloatBuffer(5, before), DREMOR_OK);
  const int code = InterruptWords()[0] & 0x0FFF;
  EXPECT_EQ(code, 2150) << "0.5 V on +-10 V";
  for (float f : before) EXPECT_EQ(f, DoubleVolts(code, 10.0f));

  ASSERT_EQ(api.VARNO_SetChannelConfig(2, 17), DREMOR_OK);
  float after[5];
  ASSERT_EQ(api.VARNO_GetFloatBuffer(5, after), DREMOR_OK);
  for (float f : after) EXPECT_EQ(f, DoubleVolts(code, 1.0f)) << "the +-10 V codes on +-1 V";
  ASSERT_EQ(api.VARNO_INT_AdStop(), DREMOR_OK);
}

}  // namespace
}  // namespace daqtest
