// List the relay boards with their model and base words. C++ against Korvel.
#include <cstdio>

#include "korvel.h"

int main() {
  unsigned short count = 0;
  const unsigned short status = PCI_DriverInit(&count);
  if (status != KORVEL_OK && status != KORVEL_ERR_NO_BOARD) {
    std::fprintf(stderr, "PCI_DriverInit: status %u\n", status);
    return 1;
  }
  std::printf("%u relay board(s)\n", count);
  for (unsigned short n = 0; n < count; ++n) {
    unsigned short kind = 0, b[6] = {};
    if (PCI_GetConfigAddressSpace(n, &kind, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != KORVEL_OK) continue;
    std::printf("board %u: %s, base words %04X %04X %04X %04X %04X %04X\n", n,
                kind == RELAY_KIND_KORVEL ? "KORVEL" : "LUMAR", b[0], b[1], b[2], b[3], b[4], b[5]);
  }
  PCI_DriverClose();
  return 0;
}
