// Simulated backend of the port primitives: each access is handed to the
// simulated bench (a virtual PC in the same process), which decodes it like a
// PC's I/O bus would, records it in its trace and checks that port access is
// currently granted.
#ifndef DAQ_COMMON_BACKEND_SIM_PORT_IO_SIM_H
#define DAQ_COMMON_BACKEND_SIM_PORT_IO_SIM_H

#include <stdint.h>

#include "daqsim/machine.h"

static inline uint8_t PortRead8(uint16_t port) { return (uint8_t)DaqSimPortRead(port, 1); }
static inline uint16_t PortRead16(uint16_t port) { return (uint16_t)DaqSimPortRead(port, 2); }
static inline uint32_t PortRead32(uint16_t port) { return DaqSimPortRead(port, 4); }
static inline void PortWrite8(uint16_t port, uint8_t value) { DaqSimPortWrite(port, 1, value); }
static inline void PortWrite16(uint16_t port, uint16_t value) { DaqSimPortWrite(port, 2, value); }
static inline void PortWrite32(uint16_t port, uint32_t value) { DaqSimPortWrite(port, 4, value); }

#endif
