// The hardware Korvel.dll as an application meets it: loaded with
// LoadLibrary, every export resolved by name and by ordinal, called through
// raw stdcall slots with garbage above each argument's width. Runs under
// Wine, which has no "\\.\kelvra": the driver cannot be opened, so a correct
// DLL reports status 1 and never executes a port instruction (which would
// kill the process with a privileged-instruction fault).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>

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
    {"PCI_FloatSub2", 2},   {"PCI_ShortSub2", 3},        {"PCI_GetDllVersion", 4},
    {"PCI_DriverInit", 5},  {"PCI_DriverClose", 6},      {"PCI_GetDriverVersion", 7},
    {"PCI_GetConfigAddressSpace", 8}, {"PCI_ActiveBoard", 9}, {"PCI_WhichBoardActive", 10},
    {"KORVEL_DO", 11},      {"KORVEL_DI", 12},           {"LUMAR_DO", 13},
    {"LUMAR_DI", 14},
};

using daqtest::Slot;

class KorvelDllTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dll.loaded()) << "LoadLibrary(Korvel.dll) failed"; }
  const void* Fn(const char* name) const { return dll.Symbol(name); }
  daqtest::DynamicLibrary dll{"Korvel.dll"};
};

TEST_F(KorvelDllTest, EveryExportResolvesByNameAndByTheSameOrdinal) {
  for (const Export& e : kExports) {
    void* byName = dll.Symbol(e.name);
    EXPECT_NE(byName, nullptr) << e.name;
    EXPECT_EQ(dll.Ordinal(e.ordinal), byName) << e.name << " @" << e.ordinal;
  }
  EXPECT_EQ(dll.Ordinal(1), nullptr) << "ordinal 1 is not assigned";
  EXPECT_EQ(dll.Ordinal(15), nullptr);
  EXPECT_EQ(dll.Symbol("_KORVEL_DO@8"), nullptr) << "names are exported undecorated";
}

TEST_F(KorvelDllTest, EachExportBalancesTheStackAndAnswersWithoutTheDriver) {
  uint16_t words[8];
  for (auto& w : words) w = 0x5A5A;
  const uint32_t junk = 0xC0DE0000u;

  auto r = ProbeStdcall(Fn("PCI_FloatSub2"), {daqtest::Bits(1.5f), daqtest::Bits(0.25f)}, true);
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(r.st0, 1.25f);

  r = ProbeStdcall(Fn("PCI_ShortSub2"), {junk | 0x8000u, junk | 0x0001u});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 32767);

  r = ProbeStdcall(Fn("PCI_GetDllVersion"), {});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 0x0201);

  r = ProbeStdcall(Fn("PCI_GetDriverVersion"), {Slot(&words[0])});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 0);
  EXPECT_EQ(words[0], 0x0210);

  words[0] = 0x5A5A;
  r = ProbeStdcall(Fn("PCI_DriverInit"), {Slot(&words[0])});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 1) << "no port-access driver under Wine";
  EXPECT_EQ(words[0], 0x5A5A) << "count untouched on failure";

  // No driver held: no lazy scan (it would need port instructions).
  r = ProbeStdcall(Fn("PCI_GetConfigAddressSpace"),
                   {junk | 0, Slot(&words[1]), Slot(&words[2]), Slot(&words[3]), Slot(&words[4]),
                    Slot(&words[5]), Slot(&words[6]), Slot(&words[7])});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 4);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(words[i], 0x5A5A) << "output " << i;

  r = ProbeStdcall(Fn("PCI_ActiveBoard"), {junk | 0});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 5);
  r = ProbeStdcall(Fn("PCI_WhichBoardActive"), {});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 100);

  // The I/O exports: without the driver they must not reach a port.
  r = ProbeStdcall(Fn("KORVEL_DO"), {junk | 0xE100, junk | 0xA55A});
  EXPECT_EQ(r.espDelta, 0);
  r = ProbeStdcall(Fn("LUMAR_DO"), {junk | 0xE100, junk | 0x81});
  EXPECT_EQ(r.espDelta, 0);
  r = ProbeStdcall(Fn("KORVEL_DI"), {junk | 0xE102});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint16_t(r.eax), 0xFFFF);
  r = ProbeStdcall(Fn("LUMAR_DI"), {junk | 0xE101});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(uint8_t(r.eax), 0xFF);

  r = ProbeStdcall(Fn("PCI_DriverClose"), {});
  EXPECT_EQ(r.espDelta, 0);
  EXPECT_EQ(r.eax, 0u) << "no handle held, nothing closed";
}

TEST_F(KorvelDllTest, LoadingAndUnloadingTouchNothing) {
  // DllMain returns TRUE for every reason: a second load and an unload work.
  HMODULE again = LoadLibraryA("Korvel.dll");
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(FreeLibrary(again));
}

}  // namespace
