/* Take a pacer-clocked block of 1000 samples from channel 0 of the first
 * multifunction board and print its extremes. Plain C against Dremor. */
#include <stdio.h>

#include "dremor.h"
#include "first_board.h"

int main(void) {
  unsigned short status;
  float volts[1000], lo, hi;
  int i;
  if (OpenFirstBoard() != DREMOR_OK) return 1;
  status = VARNO_SetChannelConfig(0, 0); /* channel 0, +-10 V */
  if (status == DREMOR_OK) status = VARNO_AdsPacer(volts, 1000, 400); /* counter clock / 400 */
  if (status != DREMOR_OK) {
    fprintf(stderr, "status %u\n", status);
    VARNO_DriverClose();
    return 1;
  }
  lo = hi = volts[0];
  for (i = 1; i < 1000; ++i) {
    if (volts[i] < lo) lo = volts[i];
    if (volts[i] > hi) hi = volts[i];
  }
  printf("1000 samples between %.4f V and %.4f V\n", lo, hi);
  VARNO_DriverClose();
  return 0;
}
