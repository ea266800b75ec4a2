// Port I/O primitives shared by both driver libraries.
//
// Every register access the libraries make is exactly one call of one of these
// six functions: one x86 port access of the stated width at a 16-bit port
// address. They have no failure path.
//
// The backend is chosen when the library is built, never at run time:
//   DAQ_BACKEND_HARDWARE  the x86 `in`/`out` instruction of exactly that width,
//                         inlined so that an I/O export is the instruction itself;
//   DAQ_BACKEND_SIM       each access goes to the in-process simulated bench.
// The code above this header is the same in every build.
#ifndef DAQ_COMMON_PORT_IO_H
#define DAQ_COMMON_PORT_IO_H

#include <stdint.h>

#if defined(DAQ_BACKEND_HARDWARE)
#include "backend/hw/port_io_x86.h"
#elif defined(DAQ_BACKEND_SIM)
#include "backend/sim/port_io_sim.h"
#else
#error "define DAQ_BACKEND_HARDWARE or DAQ_BACKEND_SIM (the build does this)"
#endif

#endif
