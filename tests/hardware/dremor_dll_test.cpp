// The hardware Dremor.dll as an application meets it under Wine: loaded with
// LoadLibrary, every export resolved by name and by ordinal and called through
// raw stdcall slots. Wine has neither "\\.\VARNO0" nor "\\.\kelvra", so
// initialisation fails with 101 and nothing may reach a port.
#include "dll_test.h"

namespace daqtest {
namespace {

using DremorDllTest = DllTest<DremorDll>;

TEST_F(DremorDllTest, EachExportBalancesTheStackAndAnswersWithoutDrivers) {
  uint16_t w[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};

  EXPECT_EQ(Call("VARNO_FloatSub", {Bits(1.5f), Bits(0.25f)}, true).st0, 1.25f);
  EXPECT_EQ(Status("VARNO_ShortSub", {kJunk | 0x8000u, kJunk | 0x0001u}), 32767);
  EXPECT_EQ(Status("VARNO_GetDllVersion", {}), 0x0300);

  EXPECT_EQ(Status("VARNO_DriverInit", {Slot(&w[0])}), 101) << "no interrupt device under Wine";
  EXPECT_EQ(w[0], 0x5A5A);

  EXPECT_EQ(Status("VARNO_GetDriverVersion", {Slot(&w[0])}), 2);
  EXPECT_EQ(w[0], 0x1234);

  EXPECT_EQ(Status("VARNO_GetIrqNo", {Slot(&w[0])}), 0);
  EXPECT_EQ(w[0], 0);

  w[0] = w[1] = w[2] = 0x5A5A;
  EXPECT_EQ(Status("VARNO_GetConfigAddressSpace", {kJunk | 0, Slot(&w[0]), Slot(&w[1]), Slot(&w[2])}), 6)
      << "no lazy scan without port access";
  EXPECT_EQ(w[0], 0x5A5A);
  EXPECT_EQ(w[1], 0x5A5A);
  EXPECT_EQ(w[2], 0x5A5A);

  EXPECT_EQ(Status("VARNO_ActiveBoard", {kJunk | 0}), 13);
  EXPECT_EQ(Status("VARNO_WhichBoardActive", {}), 0);
  EXPECT_EQ(Call("VARNO_DriverClose", {}).eax, 0u);
}

// The operations on the active board, with no board selected and no port
// access: a port instruction here would kill the process. Those with a
// status answer 13 and write nothing; the others return having done nothing.
TEST_F(DremorDllTest, BoardOperationsWithoutASelectedBoardAnswer13AndTouchNothing) {
  uint16_t words[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
  float volts[4] = {-3.0f, -3.0f, -3.0f, -3.0f};
  ASSERT_EQ(Status("VARNO_DriverInit", {Slot(&words[3])}), 101);
  words[3] = 0x5A5A;

  Call("VARNO_SetupTimer", {kJunk | 0, kJunk | 1000});
  Call("VARNO_Do", {0x12345u});
  const struct {
    const char* name;
    std::vector<uint32_t> slots;
  } statusCalls[] = {
      {"VARNO_Di", {Slot(&words[0])}},
      {"VARNO_SetChannelConfig", {kJunk | 5, kJunk | 18}},
      {"VARNO_AdPolling", {Slot(&volts[0])}},
      {"VARNO_AdsPolling", {Slot(volts), kJunk | 4}},
      {"VARNO_Polling", {Slot(&words[0])}},
      {"VARNO_AdsPacer", {Slot(volts), kJunk | 4, kJunk | 400}},
      {"VARNO_AdsPacerHex", {Slot(words), kJunk | 4, kJunk | 400}},
  };
  for (const auto& c : statusCalls) EXPECT_EQ(Status(c.name, c.slots), 13) << c.name;
  for (uint16_t w : words) EXPECT_EQ(w, 0x5A5A);
  for (float v : volts) EXPECT_EQ(v, -3.0f);
}

// Interrupt-driven acquisition without drivers: no interrupt device, so
// every request fails (111 or 110); no board, so the fetches answer 13 and
// start and stop, which would touch ports, answer 13 as well. Outputs stay
// untouched.
TEST_F(DremorDllTest, InterruptAcquisitionWithoutDriversFailsCleanly) {
  uint16_t words[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
  float volts[4] = {-3.0f, -3.0f, -3.0f, -3.0f};
  uint32_t user = 0x11223344u, count = 0xDEADBEEFu;
  ASSERT_EQ(Status("VARNO_DriverInit", {Slot(&words[3])}), 101);
  words[3] = 0x5A5A;

  const struct {
    const char* name;
    std::vector<uint32_t> slots;
    uint16_t status;
  } calls[] = {
      {"VARNO_InstallIrq", {Slot(&user), 0x55u}, 111},
      {"VARNO_INT_AdStart", {kJunk | 3, kJunk | 18, kJunk | 1000}, 13},
      {"VARNO_INT_AdStop", {}, 13},
      {"VARNO_GetIntCount", {Slot(&count)}, 110},
      {"VARNO_GetBuffer", {4, Slot(words)}, 13},
      {"VARNO_GetFloatBuffer", {4, Slot(volts)}, 13},
      {"VARNO_GetFloatBuffer", {0x80000000u, Slot(volts)}, 13},
  };
  for (const auto& c : calls) EXPECT_EQ(Status(c.name, c.slots), c.status) << c.name;
  EXPECT_EQ(user, 0x11223344u);
  EXPECT_EQ(count, 0xDEADBEEFu);
  for (uint16_t w : words) EXPECT_EQ(w, 0x5A5A);
  for (float v : volts) EXPECT_EQ(v, -3.0f);
}

}  // namespace
}  // namespace daqtest
