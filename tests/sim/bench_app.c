/* An application as a user writes one, run on the libraries' simulated
 * builds with nothing set up in code: its bench comes from the environment
 * (DAQSIM_SCENARIO, DAQSIM_REPORT), and it checks itself through the
 * bench's C interface. Plain C, linked against Korvel, Dremor and daqsim.
 *
 *   bench_app relay            PCI_DriverInit, relays 0-7 of board 0 on
 *   bench_app varno PATTERN    VARNO_DriverInit, the digital port of board 0
 *   bench_app pacer DIVISOR N  a pacer-clocked block of N samples of channel 0
 *   bench_app fault            KORVEL_DO without the driver held
 * Each prints what it saw, one "name value" per line. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "daqsim/daqsim.h"
#include "dremor.h"
#include "korvel.h"

static int Relay(void) {
  unsigned short count = 0, kind = 0, base[6] = {0};
  const unsigned short status = PCI_DriverInit(&count);
  printf("init %u\n", status);
  if (status != KORVEL_OK) return 0;
  printf("count %u\n", count);
  PCI_GetConfigAddressSpace(0, &kind, &base[0], &base[1], &base[2], &base[3], &base[4], &base[5]);
  if (kind == 0) {
    KORVEL_DO(base[RELAY_BOARD_BLOCK_BAR] + KORVEL_OUTPUT_OFFSET, 0x00FF);
    printf("inputs 0x%04X\n", KORVEL_DI(base[RELAY_BOARD_BLOCK_BAR] + KORVEL_INPUT_OFFSET));
  } else {
    LUMAR_DO(base[RELAY_BOARD_BLOCK_BAR] + LUMAR_OUTPUT_OFFSET, 0xFF);
    printf("inputs 0x%02X\n", LUMAR_DI(base[RELAY_BOARD_BLOCK_BAR] + LUMAR_INPUT_OFFSET));
  }
  printf("relays %d\n", (int)DaqSimRelayOutputs(0));
  PCI_DriverClose();
  return 0;
}

static int Varno(unsigned pattern) {
  unsigned short count = 0, inputs = 0;
  const unsigned short status = VARNO_DriverInit(&count);
  printf("init %u\n", status);
  if (status != DREMOR_OK) return 0;
  printf("count %u\n", count);
  VARNO_ActiveBoard(0);
  VARNO_Do((unsigned short)pattern);
  VARNO_Di(&inputs);
  printf("inputs 0x%04X\n", inputs);
  printf("outputs %d\n", (int)DaqSimDigitalOutputs(0));
  VARNO_DriverClose();
  return 0;
}

static int Pacer(unsigned divisor, unsigned n) {
  unsigned short count = 0, status;
  float* volts = (float*)calloc(n ? n : 1, sizeof(float));
  status = VARNO_DriverInit(&count);
  if (status == DREMOR_OK) status = VARNO_ActiveBoard(0);
  if (status == DREMOR_OK) status = VARNO_SetChannelConfig(0, 0);
  if (status == DREMOR_OK) status = VARNO_AdsPacer(volts, (unsigned short)n, (unsigned short)divisor);
  printf("pacer %u\n", status);
  VARNO_DriverClose();
  free(volts);
  return 0;
}

static int Fault(void) {
  DaqSimFault f;
  KORVEL_DO(0xE000, 0x1234);
  printf("faults %llu\n", (unsigned long long)DaqSimFaultCount());
  if (DaqSimLastFault(&f)) printf("last 0x%X %u %u 0x%X\n", f.port, f.width, f.write, f.value);
  return 0;
}

int main(int argc, char** argv) {
  const char* what = argc > 1 ? argv[1] : "";
  int result = 2;
  if (strcmp(what, "relay") == 0) result = Relay();
  if (strcmp(what, "varno") == 0 && argc > 2) result = Varno((unsigned)strtoul(argv[2], NULL, 0));
  if (strcmp(what, "pacer") == 0 && argc > 3) {
    result = Pacer((unsigned)strtoul(argv[2], NULL, 0), (unsigned)strtoul(argv[3], NULL, 0));
  }
  if (strcmp(what, "fault") == 0) result = Fault();
  printf("accesses %llu\n", (unsigned long long)DaqSimPortAccessCount());
  printf("handles %u\n", DaqSimOpenHandles());
  return result;
}
