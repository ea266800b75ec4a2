// The port primitives of the simulated backend (machine.h): each acts on the
// one bench of the process, as the libraries reach it (set up from the
// environment at first use: Bench::ForLibraries()).
#include "daqsim/machine.h"

#include "daqsim/bench.h"

using daqsim::Bench;

uint32_t DaqSimPortRead(uint16_t port, unsigned width) { return Bench::ForLibraries().PortRead(port, width); }

void DaqSimPortWrite(uint16_t port, unsigned width, uint32_t value) {
  Bench::ForLibraries().PortWrite(port, width, value);
}
