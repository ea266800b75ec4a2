/* Korvel.dll from an MSVC-target program, through Korvel.lib: every call goes
 * through an import of the DLL's undecorated name. Under Wine there is no
 * port-access driver, so nothing here reaches a port. */
#include "korvel.h"
#include "nocrt.h"

static int Run(void) {
  unsigned short count = 0x5A5A, kind = 7, base[6] = {1, 2, 3, 4, 5, 6};
  Expect("PCI_GetDllVersion", PCI_GetDllVersion(), KORVEL_DLL_VERSION);
  Expect("PCI_GetDriverVersion", PCI_GetDriverVersion(&count), KORVEL_OK);
  Expect("  version", count, KORVEL_DRIVER_VERSION);
  count = 0x5A5A;
  Expect("PCI_DriverInit", PCI_DriverInit(&count), KORVEL_ERR_NO_DRIVER);
  Expect("  count (untouched)", count, 0x5A5A);
  Expect("PCI_GetConfigAddressSpace", PCI_GetConfigAddressSpace(0, &kind, &base[0], &base[1], &base[2],
                                                                 &base[3], &base[4], &base[5]),
         KORVEL_ERR_LAZY_NO_BOARD);
  Expect("  kind (untouched)", kind, 7);
  Expect("PCI_ActiveBoard(0)", PCI_ActiveBoard(0), KORVEL_ERR_BOARD_RANGE);
  Expect("PCI_WhichBoardActive", PCI_WhichBoardActive(), KORVEL_NO_ACTIVE_BOARD);
  KORVEL_DO(0x0300, 0x1234);
  LUMAR_DO(0x0300, 0x12);
  Expect("KORVEL_DI", KORVEL_DI(0x0300), 0xFFFF);
  Expect("LUMAR_DI", LUMAR_DI(0x0300), 0xFF);
  Expect("PCI_FloatSub2(7.5, 2.25) * 4", (long)(PCI_FloatSub2(7.5f, 2.25f) * 4.0f), 21);
  Expect("PCI_ShortSub2(-32768, 1)", PCI_ShortSub2(-32768, 1), 32767);
  Expect("PCI_DriverClose", PCI_DriverClose(), 0);
  return failures;
}
