// The port primitives of the simulated backend (machine.h): each acts on the
// one bench of the process.
#include "daqsim/machine.h"

#include "daqsim/bench.h"

using daqsim::Bench;

uint32_t DaqSimPortRead(uint16_t port, unsigned width) { return Bench::Instance().PortRead(port, width); }

void DaqSimPortWrite(uint16_t port, unsigned width, uint32_t value) {
  Bench::Instance().PortWrite(port, width, value);
}
