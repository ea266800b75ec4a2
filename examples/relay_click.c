/* Switch one relay of the first relay board on, read the inputs, switch it
 * off again. Plain C against Korvel; see README.md for building and linking. */
#include <stdio.h>

#include "korvel.h"

int main(void) {
  unsigned short count = 0, kind = 0, base[6];
  unsigned short status = PCI_DriverInit(&count);
  if (status != KORVEL_OK) {
    fprintf(stderr, "PCI_DriverInit: status %u\n", status);
    return 1;
  }
  status = PCI_GetConfigAddressSpace(0, &kind, &base[0], &base[1], &base[2], &base[3], &base[4], &base[5]);
  if (status != KORVEL_OK) {
    fprintf(stderr, "PCI_GetConfigAddressSpace: status %u\n", status);
    PCI_DriverClose();
    return 1;
  }
  if (kind == RELAY_KIND_KORVEL) {
    KORVEL_DO((unsigned short)(base[RELAY_BOARD_BLOCK_BAR] + KORVEL_OUTPUT_OFFSET), 0x0001);
    printf("KORVEL inputs: 0x%04X\n", KORVEL_DI((unsigned short)(base[RELAY_BOARD_BLOCK_BAR] + KORVEL_INPUT_OFFSET)));
    KORVEL_DO((unsigned short)(base[RELAY_BOARD_BLOCK_BAR] + KORVEL_OUTPUT_OFFSET), 0x0000);
  } else {
    LUMAR_DO((unsigned short)(base[RELAY_BOARD_BLOCK_BAR] + LUMAR_OUTPUT_OFFSET), 0x01);
    printf("LUMAR inputs: 0x%02X\n", LUMAR_DI((unsigned short)(base[RELAY_BOARD_BLOCK_BAR] + LUMAR_INPUT_OFFSET)));
    LUMAR_DO((unsigned short)(base[RELAY_BOARD_BLOCK_BAR] + LUMAR_OUTPUT_OFFSET), 0x00);
  }
  PCI_DriverClose();
  return 0;
}
