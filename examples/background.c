/* A background (interrupt-driven) acquisition: 2000 samples of channel 4 of
 * the first multifunction board under +-10 V, at one per 400 counter clocks
 * (10 kS/s at 4 MHz), fetched as the interrupt driver collects them; then
 * their lowest and highest codes and the largest step between neighbours
 * (a steady slope gives steady steps: a sample lost or out of place shows
 * as a larger one). Plain C against Dremor. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "dremor.h"

#if defined(_WIN32)
#include <windows.h>
#define PAUSE_MS(ms) Sleep(ms)
#else
#include <time.h>
static void PauseMs(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}
#define PAUSE_MS(ms) PauseMs(ms)
#endif

#define SAMPLES 2000u
#define CHANNEL 4

int main(void) {
  static unsigned short words[SAMPLES];
  unsigned short count = 0, status, lo = 0xFFFF, hi = 0, steepest = 0;
  uint32_t user = 0, interrupts = 0, fetched = 0, n, i;
  int quiet = 0;
  status = VARNO_DriverInit(&count);
  if (status == DREMOR_OK) status = VARNO_ActiveBoard(0);
  if (status == DREMOR_OK) status = VARNO_InstallIrq(&user, 0);
  if (status == DREMOR_OK) status = VARNO_INT_AdStart(CHANNEL, 0, 400); /* +-10 V */
  while (status == DREMOR_OK && fetched < SAMPLES && quiet < 100) {
    status = VARNO_GetIntCount(&interrupts);
    n = status == DREMOR_OK ? interrupts - fetched : 0;
    if (n > SAMPLES - fetched) n = SAMPLES - fetched;
    if (n > 0) {
      status = VARNO_GetBuffer(n, words + fetched); /* the oldest n samples */
      fetched += n;
      quiet = 0;
    } else {
      ++quiet;
    }
    PAUSE_MS(20);
  }
  if (status == DREMOR_OK) {
    status = VARNO_INT_AdStop();
  } else {
    VARNO_INT_AdStop();
  }
  VARNO_DriverClose();
  if (status != DREMOR_OK || fetched < SAMPLES) {
    fprintf(stderr, "status %u after %lu samples\n", status, (unsigned long)fetched);
    return 1;
  }
  for (i = 0; i < SAMPLES; ++i) {
    const unsigned short code = words[i] & VARNO_AD_MAX_CODE;
    if (code < lo) lo = code;
    if (code > hi) hi = code;
    if (i > 0) {
      const int step = abs((int)code - (int)(words[i - 1] & VARNO_AD_MAX_CODE));
      if (step > steepest) steepest = (unsigned short)step;
    }
  }
  printf("%u samples fetched\n", SAMPLES);
  printf("codes from %u to %u\n", lo, hi);
  printf("largest step between neighbours: %u codes\n", steepest);
  return 0;
}
