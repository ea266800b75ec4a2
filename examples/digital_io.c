/* The digital port of the first multifunction board: read the 16 inputs,
 * walk a one across the 16 outputs, leave a pattern on them. Plain C against
 * Dremor. */
#include <stdio.h>

#include "dremor.h"
#include "first_board.h"

int main(void) {
  unsigned short status, inputs = 0;
  unsigned bit;
  if (OpenFirstBoard() != DREMOR_OK) return 1;
  status = VARNO_Di(&inputs);
  if (status != DREMOR_OK) {
    fprintf(stderr, "status %u\n", status);
    VARNO_DriverClose();
    return 1;
  }
  printf("inputs 0x%04X\n", inputs);
  for (bit = 0; bit < 16; ++bit) VARNO_Do((unsigned short)(1u << bit));
  VARNO_Do(0xA55A);
  printf("outputs 0xA55A\n");
  VARNO_DriverClose();
  return 0;
}
