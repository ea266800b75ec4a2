/* An application of both libraries, built by the tests against an installed
 * tree (CMake package, pkg-config, MinGW) and run.
 *
 *   app [hardware|sim]
 *
 * Prints what the libraries answer and exits 0 when every answer is the one
 * the named backend gives on this machine: the hardware libraries find no
 * port access (Linux: the program has given up every capability first;
 * Windows under Wine: there is no port-access driver), the simulated ones the
 * bench they build when no scenario is named (two relay boards and two
 * multifunction boards, every driver installed). So it also tells which
 * backend an installed package holds. The versions and the
 * arithmetic exports check the calling convention across the library
 * boundary (float and 16-bit arguments and results).
 *
 * On Linux it gives up every capability before its first call, and calls
 * nothing when it cannot: with CAP_SYS_RAWIO the hardware library would reach
 * the machine's real ports. */
#include <stdio.h>
#include <string.h>

#include "dremor.h"
#include "korvel.h"

#if defined(__linux__)
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

/* Nonzero once the process holds no effective or permitted capability. */
static int DropAllCapabilities(void) {
  struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  struct __user_cap_data_struct data[2];
  char line[256];
  int eff = 0, prm = 0;
  FILE* status;
  memset(data, 0, sizeof data);
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  prctl(PR_CAPBSET_DROP, CAP_SYS_RAWIO, 0, 0, 0);
  syscall(SYS_capset, &header, data);
  status = fopen("/proc/self/status", "r");
  if (!status) return 0;
  while (fgets(line, sizeof line, status)) {
    if (strncmp(line, "CapEff:", 7) == 0) eff = strspn(line + 7, "0\t \n") == strlen(line + 7);
    if (strncmp(line, "CapPrm:", 7) == 0) prm = strspn(line + 7, "0\t \n") == strlen(line + 7);
  }
  fclose(status);
  return eff && prm;
}
#endif

static int failures = 0;

static void Expect(const char* what, long actual, long expected) {
  printf("%-34s %ld", what, actual);
  if (actual != expected) {
    printf("   FAILED: expected %ld", expected);
    ++failures;
  }
  printf("\n");
}

int main(int argc, char** argv) {
  const int sim = argc > 1 && strcmp(argv[1], "sim") == 0;
  unsigned short relayBoards = 0x5A5A, varnoBoards = 0x5A5A;
  unsigned short korvelInit, dremorInit;
#if defined(__linux__)
  if (!DropAllCapabilities()) {
    fprintf(stderr, "could not give up every capability; calling nothing\n");
    return 2;
  }
#endif
  Expect("PCI_GetDllVersion", PCI_GetDllVersion(), KORVEL_DLL_VERSION);
  Expect("VARNO_GetDllVersion", VARNO_GetDllVersion(), DREMOR_DLL_VERSION);
  Expect("PCI_FloatSub2(7.5, 2.25) * 4", (long)(PCI_FloatSub2(7.5f, 2.25f) * 4.0f), 21);
  Expect("PCI_ShortSub2(-32768, 1)", PCI_ShortSub2(-32768, 1), 32767);
  Expect("VARNO_FloatSub(1.0, 3.5) * 4", (long)(VARNO_FloatSub(1.0f, 3.5f) * 4.0f), -10);
  Expect("VARNO_ShortSub(100, 300)", VARNO_ShortSub(100, 300), -200);

  korvelInit = PCI_DriverInit(&relayBoards);
  dremorInit = VARNO_DriverInit(&varnoBoards);
  if (sim) {
    /* The built-in bench: both scans find their two boards. */
    Expect("PCI_DriverInit", korvelInit, KORVEL_OK);
    Expect("  relay boards", relayBoards, 2);
    Expect("VARNO_DriverInit", dremorInit, DREMOR_OK);
    Expect("  multifunction boards", varnoBoards, 2);
  } else {
    /* No port access: status 1, and the count is not written. */
    Expect("PCI_DriverInit", korvelInit, KORVEL_ERR_NO_DRIVER);
    Expect("  relay boards (untouched)", relayBoards, 0x5A5A);
#if defined(_WIN32)
    /* No interrupt device either, and that is looked for first. */
    Expect("VARNO_DriverInit", dremorInit, DREMOR_ERR_NO_INTERRUPT_DEVICE);
#else
    /* Linux has no interrupt driver by design: port access is what fails. */
    Expect("VARNO_DriverInit", dremorInit, DREMOR_ERR_NO_DRIVER);
#endif
    Expect("  multifunction boards (untouched)", varnoBoards, 0x5A5A);
  }
  Expect("PCI_DriverClose", PCI_DriverClose() != 0, sim);
  VARNO_DriverClose();
  printf("%s\n", failures ? "FAILED" : "ok");
  return failures ? 1 : 0;
}
