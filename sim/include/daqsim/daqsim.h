/* The bench seen from a test of an application: a plain C interface to the
 * simulated bench of the process, for programs in any language (C, C++,
 * Python ctypes, ...) that run on the libraries' simulated builds and want
 * to check what the application did to the boards.
 *
 * Library: libdaqsim.so on Linux, daqsim.dll on Windows (the one the
 * simulated Korvel and Dremor load). Calling convention: the platform's C
 * convention (cdecl on 32-bit Windows; ctypes.CDLL). Every function is safe
 * to call from any thread, at any time; the first call, like the first call
 * of either library, sets the bench up from the environment when nothing
 * else did (DAQSIM_SCENARIO, DAQSIM_REPORT: see the README, "Test your
 * application without a board").
 *
 * Boards are named either by number, in the drivers' scan order (the number
 * the application passes to the library: relay boards for Korvel,
 * multifunction boards for Dremor), or by slot (bus 0-255, device 0-31,
 * function 0-7). A function about a board answers -1 when there is no such
 * board of that kind.
 *
 *   Python:
 *     bench = ctypes.CDLL("libdaqsim.so")
 *     bench.DaqSimRelayOutputs.argtypes = [ctypes.c_int32]
 *     assert bench.DaqSimRelayOutputs(0) == 0x00FF
 *     bench.DaqSimFaultCount.restype = ctypes.c_uint64
 *     assert bench.DaqSimFaultCount() == 0
 */
#ifndef DAQSIM_DAQSIM_H
#define DAQSIM_DAQSIM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Relay boards (KORVEL, LUMAR) ---- */
/* The relay states (bit n set: relay n energised), 0 to 0xFFFF, or -1. */
int32_t DaqSimRelayOutputs(int32_t board);
int32_t DaqSimRelayOutputsAt(int32_t bus, int32_t device, int32_t function);
/* Sets the pattern on the board's input connector. 0, or -1 when there is
 * no such board or the pattern has bits beyond its inputs (16 or 8). */
int32_t DaqSimSetRelayInputs(int32_t board, uint32_t pattern);

/* ---- Multifunction boards (VARNO) ---- */
/* The digital port's output latch, 0 to 0xFFFF, or -1. */
int32_t DaqSimDigitalOutputs(int32_t board);
int32_t DaqSimDigitalOutputsAt(int32_t bus, int32_t device, int32_t function);
/* Sets the pattern on the digital port's inputs (0 to 0xFFFF): 0, or -1. */
int32_t DaqSimSetDigitalInputs(int32_t board, uint32_t pattern);

/* ---- What the application did ---- */
/* Port accesses since the bench was set up. */
uint64_t DaqSimPortAccessCount(void);
/* Faults: port accesses made without port access granted (on a real machine
 * the first one would have killed the application). */
uint64_t DaqSimFaultCount(void);
/* The latest fault. */
typedef struct DaqSimFault {
  uint32_t port;
  uint32_t width;  /* bytes: 1, 2 or 4 */
  uint32_t write;  /* 1 for a write, 0 for a read */
  uint32_t value;  /* written, or returned */
  uint64_t timeNs; /* bench time */
} DaqSimFault;
/* 1 with *fault filled when there was a fault, 0 (and *fault untouched)
 * when there was none. */
int32_t DaqSimLastFault(DaqSimFault* fault);
/* Sleep calls the libraries made, and handles open on the drivers. */
uint64_t DaqSimSleepCalls(void);
uint32_t DaqSimOpenHandles(void);

/* Writes the bench's report (JSON: the facts above and every board with its
 * slot, number, outputs and inputs) to `path`: 0, or -1 when the file cannot
 * be written. DAQSIM_REPORT=path writes the same at exit. */
int32_t DaqSimWriteReport(const char* path);

#ifdef __cplusplus
}
#endif

#endif
