/* The 8254 timer of the first multifunction board: counter 1 is free for the
 * application (counter 0 paces the A/D converter, counter 2 times its
 * settling). Loads counter 1 as a rate generator for each rate asked for and
 * prints the divisor and the rate it gives. The library does not know the
 * board's counter clock: pass it as the first argument (default 4 MHz), the
 * rates after it (default 1000, 3000 and 40 Hz). Plain C against Dremor. */
#include <stdio.h>
#include <stdlib.h>

#include "dremor.h"

int main(int argc, char** argv) {
  static const char* defaults[] = {"1000", "3000", "40"};
  const double clock = argc > 1 ? atof(argv[1]) : 4000000.0;
  const char** rates = argc > 2 ? (const char**)argv + 2 : defaults;
  const int rateCount = argc > 2 ? argc - 2 : 3;
  unsigned short count = 0, status;
  int i;
  status = VARNO_DriverInit(&count);
  if (status == DREMOR_OK) status = VARNO_ActiveBoard(0);
  if (status != DREMOR_OK) {
    fprintf(stderr, "status %u\n", status);
    VARNO_DriverClose();
    return 1;
  }
  printf("counter clock %.0f Hz\n", clock);
  for (i = 0; i < rateCount; ++i) {
    const double asked = atof(rates[i]);
    /* Mode 2 divides by 2 to 65536; the divisor 65536 is loaded as 0. */
    double divisor = asked > 0 ? clock / asked + 0.5 : 65536.0;
    unsigned long d = divisor < 2 ? 2ul : divisor > 65536 ? 65536ul : (unsigned long)divisor;
    VARNO_SetupTimer(1, (unsigned short)(d & 0xFFFFu));
    printf("%s Hz: divisor %lu, %.3f Hz\n", rates[i], d, clock / (double)d);
  }
  VARNO_DriverClose();
  return 0;
}
