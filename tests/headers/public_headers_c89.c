/* The headers an application includes, compiled as plain C89 with pedantic
 * errors: an application written in old C, or built by a strict compiler,
 * must be able to include them. Each is included twice (its guard must hold),
 * and the range table is expanded the way an application would use it. */
#include "korvel.h"
#include "relay_board_map.h"
#include "dremor.h"
#include "varno_board_map.h"
#include "korvel.h"
#include "dremor.h"

#define ROW_FULL_SCALE(code, gain, fullScale, settle) fullScale,
static const float fullScales[] = {VARNO_RANGE_TABLE(ROW_FULL_SCALE)};

int main(void) {
  return (int)(sizeof fullScales / sizeof fullScales[0]) == 0;
}
