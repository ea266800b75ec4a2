// The hardware Korvel.dll as an application meets it under Wine: loaded with
// LoadLibrary, every export resolved by name and by ordinal, called through
// raw stdcall slots with garbage above each argument's width. Without the
// port-access driver the open fails with status 1 and no port is touched.
#include "dll_test.h"

namespace daqtest {
namespace {

using KorvelDllTest = DllTest<KorvelDll>;

TEST_F(KorvelDllTest, EachExportBalancesTheStackAndAnswersWithoutTheDriver) {
  uint16_t words[8];
  for (auto& w : words) w = 0x5A5A;

  EXPECT_EQ(Call("PCI_FloatSub2", {Bits(1.5f), Bits(0.25f)}, true).st0, 1.25f);
  EXPECT_EQ(Status("PCI_ShortSub2", {kJunk | 0x8000u, kJunk | 0x0001u}), 32767);
  EXPECT_EQ(Status("PCI_GetDllVersion", {}), 0x0201);
  EXPECT_EQ(Status("PCI_GetDriverVersion", {Slot(&words[0])}), 0);
  EXPECT_EQ(words[0], 0x0210);

  words[0] = 0x5A5A;
  EXPECT_EQ(Status("PCI_DriverInit", {Slot(&words[0])}), 1) << "no port-access driver under Wine";
  EXPECT_EQ(words[0], 0x5A5A) << "count untouched on failure";

  // No driver held: no lazy scan (it would need port instructions).
  EXPECT_EQ(Status("PCI_GetConfigAddressSpace", {kJunk | 0, Slot(&words[1]), Slot(&words[2]), Slot(&words[3]),
                                                 Slot(&words[4]), Slot(&words[5]), Slot(&words[6]), Slot(&words[7])}),
            4);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(words[i], 0x5A5A) << "output " << i;

  EXPECT_EQ(Status("PCI_ActiveBoard", {kJunk | 0}), 5);
  EXPECT_EQ(Status("PCI_WhichBoardActive", {}), 100);

  // The I/O exports: without the driver they must not reach a port.
  Call("KORVEL_DO", {kJunk | 0xE100, kJunk | 0xA55A});
  Call("LUMAR_DO", {kJunk | 0xE100, kJunk | 0x81});
  EXPECT_EQ(Status("KORVEL_DI", {kJunk | 0xE102}), 0xFFFF);
  EXPECT_EQ(uint8_t(Call("LUMAR_DI", {kJunk | 0xE101}).eax), 0xFF);

  EXPECT_EQ(Call("PCI_DriverClose", {}).eax, 0u) << "no handle held, nothing closed";
}

}  // namespace
}  // namespace daqtest
