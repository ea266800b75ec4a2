// The Linux hardware builds of Korvel and Dremor with port access refused by
// the kernel.
//
// The process first gives up every capability (CAP_SYS_RAWIO above all), so
// the kernel refuses iopl() and "\\.\kelvra" cannot be opened. The test makes
// sure of that before it calls anything: this is a shared build host, and the
// library must never reach its real ports. A guard that failed would show as
// a crash here (a port instruction without permission is a fault).
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "dremor.h"
#include "korvel.h"

namespace {

// True once the process holds no effective or permitted capability.
bool DropAllCapabilities() {
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  prctl(PR_CAPBSET_DROP, CAP_SYS_RAWIO, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  syscall(SYS_capset, &header, data);
  std::ifstream status("/proc/self/status");
  std::string line;
  bool effClear = false, prmClear = false;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) == 0) effClear = line.find_first_not_of("0\t ", 7) == std::string::npos;
    if (line.rfind("CapPrm:", 0) == 0) prmClear = line.find_first_not_of("0\t ", 7) == std::string::npos;
  }
  return effClear && prmClear;
}

TEST(KorvelLinuxHardware, RefusedPortAccessGivesStatusOneAndNoPortIsTouched) {
  if (!DropAllCapabilities()) GTEST_SKIP() << "could not drop capabilities; not risking real port I/O";

  unsigned short count = 0x5A5A;
  EXPECT_EQ(PCI_DriverInit(&count), KORVEL_ERR_NO_DRIVER);
  EXPECT_EQ(count, 0x5A5A);

  unsigned short w[7] = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(PCI_GetConfigAddressSpace(0, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5], &w[6]),
            KORVEL_ERR_LAZY_NO_BOARD);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(w[i], i + 1);

  KORVEL_DO(0x0080, 0x1234);
  LUMAR_DO(0x0080, 0x12);
  EXPECT_EQ(KORVEL_DI(0x0080), 0xFFFF);
  EXPECT_EQ(LUMAR_DI(0x0080), 0xFF);
  EXPECT_EQ(PCI_DriverClose(), 0);

  unsigned short version = 0;
  EXPECT_EQ(PCI_GetDriverVersion(&version), KORVEL_OK);
  EXPECT_EQ(version, KORVEL_DRIVER_VERSION);
  EXPECT_EQ(PCI_GetDllVersion(), KORVEL_DLL_VERSION);
}

TEST(DremorLinuxHardware, RefusedPortAccessGivesStatusOneAndNoPortIsTouched) {
  if (!DropAllCapabilities()) GTEST_SKIP() << "could not drop capabilities; not risking real port I/O";

  unsigned short count = 0x5A5A;
  EXPECT_EQ(VARNO_DriverInit(&count), 1) << "Linux has no interrupt driver to open first; port access is refused";
  EXPECT_EQ(count, 0x5A5A);
  unsigned short io = 1, dio = 2, ad = 3;
  EXPECT_EQ(VARNO_GetConfigAddressSpace(0, &io, &dio, &ad), 6);
  EXPECT_EQ(io, 1);
  EXPECT_EQ(VARNO_ActiveBoard(0), 13);
  // Without a selected board nothing reaches the board's ports.
  VARNO_SetupTimer(0, 1000);
  VARNO_Do(0x1234);
  unsigned short pattern = 0x5A5A, code = 0x5A5A;
  float volts = 1.5f;
  EXPECT_EQ(VARNO_Di(&pattern), 13);
  EXPECT_EQ(VARNO_SetChannelConfig(1, 0), 13);
  EXPECT_EQ(VARNO_Polling(&code), 13);
  EXPECT_EQ(VARNO_AdPolling(&volts), 13);
  EXPECT_EQ(VARNO_AdsPacer(&volts, 1, 1000), 13);
  // Interrupt-driven acquisition needs the interrupt driver, which Linux
  // does not have: the calls answer as for a missing device.
  uint32_t user = 0, ints = 0xDEADBEEFu;
  EXPECT_EQ(VARNO_InstallIrq(&user, 0), 111);
  EXPECT_EQ(VARNO_INT_AdStart(3, 18, 1000), 110);
  EXPECT_EQ(VARNO_INT_AdStop(), 110);
  EXPECT_EQ(VARNO_GetIntCount(&ints), 110);
  EXPECT_EQ(ints, 0xDEADBEEFu);
  EXPECT_EQ(VARNO_GetBuffer(1, &code), 13);
  EXPECT_EQ(VARNO_GetFloatBuffer(1, &volts), 13);
  EXPECT_EQ(pattern, 0x5A5A);
  EXPECT_EQ(code, 0x5A5A);
  EXPECT_EQ(volts, 1.5f);
  unsigned short version = 0;
  EXPECT_EQ(VARNO_GetDriverVersion(&version), 2);
  EXPECT_EQ(version, 0x1234);
  EXPECT_EQ(VARNO_DriverClose(), 0);
}

}  // namespace
