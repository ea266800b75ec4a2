/* Dremor.dll from an MSVC-target program, through Dremor.lib: every call goes
 * through an import of the DLL's undecorated name. Under Wine there is no
 * interrupt device and no port-access driver, so nothing here reaches a port. */
#include "dremor.h"
#include "nocrt.h"

static int Run(void) {
  unsigned short count = 0x5A5A, io = 1, dio = 2, ad = 3, code = 0x5A5A;
  uint32_t user = 0, ints = 0xDEADBEEFu;
  float volts = 1.5f;
  Expect("VARNO_GetDllVersion", VARNO_GetDllVersion(), DREMOR_DLL_VERSION);
  Expect("VARNO_DriverInit", VARNO_DriverInit(&count), DREMOR_ERR_NO_INTERRUPT_DEVICE);
  Expect("  count (untouched)", count, 0x5A5A);
  Expect("VARNO_GetConfigAddressSpace", VARNO_GetConfigAddressSpace(0, &io, &dio, &ad), DREMOR_ERR_LAZY_NO_BOARD);
  Expect("  io (untouched)", io, 1);
  Expect("VARNO_ActiveBoard(0)", VARNO_ActiveBoard(0), DREMOR_ERR_BOARD_RANGE);
  Expect("VARNO_Polling", VARNO_Polling(&code), DREMOR_ERR_BOARD_RANGE);
  Expect("VARNO_AdsPacer", VARNO_AdsPacer(&volts, 1, 1000), DREMOR_ERR_BOARD_RANGE);
  Expect("VARNO_InstallIrq", VARNO_InstallIrq(&user, 0), DREMOR_ERR_INSTALL_IRQ);
  Expect("VARNO_GetIntCount", VARNO_GetIntCount(&ints), DREMOR_ERR_INTERRUPT_REQUEST);
  Expect("  count (untouched)", ints == 0xDEADBEEFu, 1);
  Expect("  code, volts (untouched)", code == 0x5A5A && volts == 1.5f, 1);
  Expect("VARNO_FloatSub(1.0, 3.5) * 4", (long)(VARNO_FloatSub(1.0f, 3.5f) * 4.0f), -10);
  Expect("VARNO_ShortSub(100, 300)", VARNO_ShortSub(100, 300), -200);
  Expect("VARNO_DriverClose", VARNO_DriverClose(), 0);
  return failures;
}
