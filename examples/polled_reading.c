/* Polled readings: a few channels of the first multifunction board, each
 * under an input range, as a code and in volts. Plain C against Dremor.
 * The full scales come from the register map's range table
 * (VARNO_RANGE_TABLE). */
#include <stdio.h>

#include "dremor.h"
#include "first_board.h"

/* The full scale of configuration code `code`, 0 for a code without a range. */
static float FullScale(unsigned short code) {
  switch (code) {
#define VARNO_FULL_SCALE_CASE(c, gain, volts, settling) \
  case c:                                               \
    return volts;
    VARNO_RANGE_TABLE(VARNO_FULL_SCALE_CASE)
#undef VARNO_FULL_SCALE_CASE
  }
  return 0.0f;
}

int main(void) {
  /* (channel, configuration code) pairs to read. */
  static const unsigned short reads[][2] = {{1, 0}, {1, 1}, {2, 0}, {2, 2}, {3, 17}};
  unsigned short status = DREMOR_OK, code = 0;
  float volts = 0.0f;
  unsigned i;
  if (OpenFirstBoard() != DREMOR_OK) return 1;
  for (i = 0; status == DREMOR_OK && i < sizeof reads / sizeof reads[0]; ++i) {
    status = VARNO_SetChannelConfig((unsigned char)reads[i][0], reads[i][1]); /* waits to settle */
    if (status == DREMOR_OK) status = VARNO_Polling(&code);                   /* one conversion: the code */
    if (status == DREMOR_OK) status = VARNO_AdPolling(&volts);                /* another: in volts */
    if (status == DREMOR_OK) {
      printf("channel %u, +-%g V: code %u, %.4f V\n", reads[i][0], FullScale(reads[i][1]), code, volts);
    }
  }
  if (status != DREMOR_OK) fprintf(stderr, "status %u\n", status);
  VARNO_DriverClose();
  return status == DREMOR_OK ? 0 : 1;
}
