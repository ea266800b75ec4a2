/* What the Dremor examples begin with: the library opened and the first
 * multifunction board selected. */
#ifndef DAQ_EXAMPLES_FIRST_BOARD_H
#define DAQ_EXAMPLES_FIRST_BOARD_H

#include <stdio.h>

#include "dremor.h"

/* VARNO_DriverInit, then VARNO_ActiveBoard(0). Returns DREMOR_OK, or the
 * status of the call that failed after saying so on stderr; when no board
 * could be selected the library is closed again. */
static unsigned short OpenFirstBoard(void) {
  unsigned short count = 0, status;
  status = VARNO_DriverInit(&count);
  if (status != DREMOR_OK) {
    fprintf(stderr, "VARNO_DriverInit: status %u\n", status);
    return status;
  }
  status = VARNO_ActiveBoard(0);
  if (status != DREMOR_OK) {
    fprintf(stderr, "VARNO_ActiveBoard: status %u\n", status);
    VARNO_DriverClose();
  }
  return status;
}

#endif
