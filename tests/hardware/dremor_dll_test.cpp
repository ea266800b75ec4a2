// The hardware Dremor.dll as an application meets it, under Wine: loaded with
// LoadLibrary, every export resolved by name and by ordinal and called
// through raw stdcall slots. Wine has neither "\\.\VARNO0" nor "\\.\kelvra",
// so initialisation fails with 101 and nothing may reach a port.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "dynlib.h"
#include "slot_cast.h"
#include "stdcall_probe.h"

namespace {

using daqtest::ProbeStdcall;

struct Export {
  const char* name;
  unsigned ordinal;
};
constexpr Export kExports[] = {
    {"VARNO_FloatSub", 2},        {"VARNO_ShortSub", 3},          {"VARNO_GetDllVersion", 4},
    {"VARNO_DriverInit", 5},      {"VARNO_DriverClose", 6},       {"VARNO_GetDriverVersion", 7},
    {"VARNO_GetIrqNo", 8},        {"VARNO_GetConfigAddressSpace", 9}, {"VARNO_ActiveBoard", 10},
    {"VARNO_WhichBoardActive", 11},
    {"VARNO_SetupTimer", 12},     {"VARNO_Do", 13},               {"VARNO_Di", 14},
    {"VARNO_SetChannelConfig", 15}, {"VARNO_AdPolling", 16},      {"VARNO_AdsPolling", 17},
    {"VARNO_Polling", 18},        {"VARNO_AdsPacer", 19},         {"VARNO_InstallIrq", 20},
    {"VARNO_INT_AdStart", 21},    {"VARNO_INT_AdStop", 22},       {"VARNO_GetIntCount", 23},
    {"VARNO_GetBuffer", 24},      {"VARNO_GetFloatBuffer", 25},   {"VARNO_AdsPacerHex", 26},
};

using daqtest::Slot;

class DremorDllTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dll.loaded()) << "LoadLibrary(Dremor.dll) failed"; }
  const void* Fn(const char* name) const { return dll.Symbol(name); }
  daqtest::DynamicLibrary dll{"Dremor.dll"};
};

TEST_F(DremorDllTest, EveryExportResolvesByNameAndByTheSameOrdinal) {
  for (const Export& e : kExports) {
    void* byName = dll.Symbol(e.name);
    EXPECT_NE(byName, nullptr) << e.name;
    EXPECT_EQ(dll.Ordinal(e.ordinal), byName) << e.name << " @" << e.ordinal;
  }
  EXPECT_EQ(dll.Ordinal(1), nullptr) << "ordinal 1 is not assigned";
  EXPECT_EQ(dll.Ordinal(27), nullptr) << "nothing beyond 26";
}

TEST_F(DremorDllTest, EachExportBalancesTheStackAndAnswersWithoutDrivers) {
  uint16_t w[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
  const uint32_t junk = 0xC0DE0000u;

  auto r = ProbeStdcall(Fn("VARNO_FloatSub"), {daqtest::Bits(1.5f), daqtest::Bits(0.25f)}, true);
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(r.st0, 1.25f);
  r = ProbeStdcall(Fn("VARNO_ShortSub"), {junk | 0x8000u, junk | 0x0001u});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 32767);
  r = ProbeStdcall(Fn("VARNO_GetDllVersion"), {});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 0x0300);

  r = ProbeStdcall(Fn("VARNO_DriverInit"), {Slot(&w[0])});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 101) << "no interrupt device under Wine";
  EXPECT_EQ(w[0], 0x5A5A);

  r = ProbeStdcall(Fn("VARNO_GetDriverVersion"), {Slot(&w[0])});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 2);
  EXPECT_EQ(w[0], 0x1234);

  r = ProbeStdcall(Fn("VARNO_GetIrqNo"), {Slot(&w[0])});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 0);
  EXPECT_EQ(w[0], 0);

  w[0] = w[1] = w[2] = 0x5A5A;
  r = ProbeStdcall(Fn("VARNO_GetConfigAddressSpace"), {junk | 0, Slot(&w[0]), Slot(&w[1]), Slot(&w[2])});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 6) << "no lazy scan without port access";
  EXPECT_EQ(w[0], 0x5A5A);
  EXPECT_EQ(w[1], 0x5A5A);
  EXPECT_EQ(w[2], 0x5A5A);

  r = ProbeStdcall(Fn("VARNO_ActiveBoard"), {junk | 0});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 13);
  r = ProbeStdcall(Fn("VARNO_WhichBoardActive"), {});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 0);
  r = ProbeStdcall(Fn("VARNO_DriverClose"), {});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(r.eax, 0u);
}

// The operations on the active board, with no board selected and no port
// access: a port instruction here would kill the process. Those with a
// status answer 13 and write nothing; the others return having done nothing.
TEST_F(DremorDllTest, BoardOperationsWithoutASelectedBoardAnswer13AndTouchNothing) {
  uint16_t words[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
  float volts[4] = {-3.0f, -3.0f, -3.0f, -3.0f};
  const uint32_t junk = 0xC0DE0000u;

  ASSERT_EQ(uint16_t(ProbeStdcall(Fn("VARNO_DriverInit"), {Slot(&words[3])}).eax), 101);
  words[3] = 0x5A5A;

  auto r = ProbeStdcall(Fn("VARNO_SetupTimer"), {junk | 0, junk | 1000});
  EXPECT_EQ(r.espDelta, 0);
  r = ProbeStdcall(Fn("VARNO_Do"), {0x12345u});
  EXPECT_EQ(r.espDelta, 0);

  const struct {
    const char* name;
    std::vector<uint32_t> slots;
  } statusCalls[] = {
      {"VARNO_Di", {Slot(&words[0])}},
      {"VARNO_SetChannelConfig", {junk | 5, junk | 18}},
      {"VARNO_AdPolling", {Slot(&volts[0])}},
      {"VARNO_AdsPolling", {Slot(volts), junk | 4}},
      {"VARNO_Polling", {Slot(&words[0])}},
      {"VARNO_AdsPacer", {Slot(volts), junk | 4, junk | 400}},
      {"VARNO_AdsPacerHex", {Slot(words), junk | 4, junk | 400}},
  };
  for (const auto& c : statusCalls) {
    r = ProbeStdcall(Fn(c.name), c.slots);
    EXPECT_EQ(r.espDelta, 0) << c.name;
    EXPECT_EQ(uint16_t(r.eax), 13) << c.name;
  }
  for (uint16_t w : words) EXPECT_EQ(w, 0x5A5A);
  for (float v : volts) EXPECT_EQ(v, -3.0f);
}

// Interrupt-driven acquisition without drivers: no interrupt device, so
// every request fails (111 or 110); no board, so the fetches answer 13 and
// start and stop, which would touch ports, answer 13 as well. Outputs stay
// untouched and the stack balances.
TEST_F(DremorDllTest, InterruptAcquisitionWithoutDriversFailsCleanly) {
  uint16_t words[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
  float volts[4] = {-3.0f, -3.0f, -3.0f, -3.0f};
  uint32_t user = 0x11223344u, count = 0xDEADBEEFu;
  const uint32_t junk = 0xC0DE0000u;
  ASSERT_EQ(uint16_t(ProbeStdcall(Fn("VARNO_DriverInit"), {Slot(&words[3])}).eax), 101);
  words[3] = 0x5A5A;

  const struct {
    const char* name;
    std::vector<uint32_t> slots;
    uint16_t status;
  } calls[] = {
      {"VARNO_InstallIrq", {Slot(&user), 0x55u}, 111},
      {"VARNO_INT_AdStart", {junk | 3, junk | 18, junk | 1000}, 13},
      {"VARNO_INT_AdStop", {}, 13},
      {"VARNO_GetIntCount", {Slot(&count)}, 110},
      {"VARNO_GetBuffer", {4, Slot(words)}, 13},
      {"VARNO_GetFloatBuffer", {4, Slot(volts)}, 13},
      {"VARNO_GetFloatBuffer", {0x80000000u, Slot(volts)}, 13},
  };
  for (const auto& c : calls) {
    const auto r = ProbeStdcall(Fn(c.name), c.slots);
    EXPECT_EQ(r.espDelta, 0) << c.name;
    EXPECT_EQ(uint16_t(r.eax), c.status) << c.name;
  }
  EXPECT_EQ(user, 0x11223344u);
  EXPECT_EQ(count, 0xDEADBEEFu);
  for (uint16_t w : words) EXPECT_EQ(w, 0x5A5A);
  for (float v : volts) EXPECT_EQ(v, -3.0f);
}

}  // namespace
