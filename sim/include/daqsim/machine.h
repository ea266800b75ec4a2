// The far side of the hardware seam in simulated builds.
//
// A library built with the simulated backend calls these functions where the
// hardware build executes a port instruction: plain C calls, cheap enough to
// be inlined into every port primitive. They act on the one bench of the
// process (daqsim::Bench::Instance()). The platform services (devices,
// requests, sleep, heap) reach the bench through its C++ interface, in the
// platform layer of the simulated builds (common/backend/sim/).
#ifndef DAQSIM_MACHINE_H
#define DAQSIM_MACHINE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One port access of `width` bytes (1, 2 or 4).
uint32_t DaqSimPortRead(uint16_t port, unsigned width);
void DaqSimPortWrite(uint16_t port, unsigned width, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif
