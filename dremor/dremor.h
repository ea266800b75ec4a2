/* Dremor: user-mode driver library for the VARNO multifunction PCI board
 * (12-bit A/D converter, 16-bit digital port, 8254 timer).
 *
 * Usable from C and C++, with MinGW and MSVC. On 32-bit Windows every export
 * is __stdcall under its plain name; dremor.def lists the exports of
 * Dremor.dll with their ordinals.
 * Every argument occupies a 32-bit slot of which only the stated width is
 * used. Statuses are 16-bit, 0 for success; pointer arguments are not tested.
 * Register map, PCI identity and driver requests: varno_board_map.h.
 *
 * Typical use:
 *   unsigned short count, io, dio, ad, irq, codes[1000];
 *   float volts;
 *   if (VARNO_DriverInit(&count) == DREMOR_OK) {
 *     VARNO_GetConfigAddressSpace(0, &io, &dio, &ad);
 *     VARNO_ActiveBoard(0);                       // reset the board, bind its interrupt driver
 *     VARNO_GetIrqNo(&irq);
 *     VARNO_SetChannelConfig(3, 17);              // channel 3, +-1 V, wait to settle
 *     VARNO_AdPolling(&volts);                    // one conversion, in volts
 *     VARNO_AdsPacerHex(codes, 1000, 400);        // 1000 codes, one per 400 counter clocks
 *     ...
 *     // Background acquisition under the interrupt driver:
 *     uint32_t user = 0, ints = 0, fetched = 0;
 *     float block[1000];
 *     VARNO_InstallIrq(&user, 0);                 // the driver binds the active board
 *     VARNO_INT_AdStart(3, 17, 400);              // channel 3, +-1 V, one sample per 400 clocks
 *     while (fetched < 1000) {                    // (sleep between polls)
 *       VARNO_GetIntCount(&ints);
 *       uint32_t n = ints - fetched;
 *       if (n > 1000 - fetched) n = 1000 - fetched;
 *       if (VARNO_GetFloatBuffer(n, block + fetched) != DREMOR_OK) break;
 *       fetched += n;
 *     }
 *     VARNO_INT_AdStop();
 *     VARNO_DriverClose();
 *   }
 *
 * The library needs two kernel drivers: "\\.\VARNOn", the interrupt driver of
 * board n (opened first), and the port-access driver "\\.\kelvra", while whose
 * handle is held the process may execute port instructions.
 *
 * Guarantees callers may rely on:
 *  - No port access is ever made while "\\.\kelvra" is not held (before a
 *    successful VARNO_DriverInit, after one that failed, after
 *    VARNO_DriverClose): a port instruction then would kill the application.
 *    VARNO_GetConfigAddressSpace makes no scan then (status 6 while no board
 *    was ever recorded).
 *  - No board is driven without its reset. VARNO_ActiveBoard without port
 *    access does its bookkeeping and the re-open of the interrupt device; the
 *    reset it could not make is owed, and runs right before the library's
 *    next access to that board (the first operation on the active board
 *    after a successful VARNO_DriverInit).
 *  - The register ports of the active board are known only after the first
 *    accepted VARNO_ActiveBoard; before it, operations that would use them
 *    make no port access (ports 0x0000-0x0030 belong to the PC's DMA and
 *    interrupt controllers).
 *  - Every operation on the active board (timer, digital I/O, A/D
 *    configuration and conversions, VARNO_INT_AdStart) does nothing while it
 *    may not touch a port, that is before the first accepted
 *    VARNO_ActiveBoard or while "\\.\kelvra" is not held: those with a status
 *    return 13 and write nothing through their pointers; VARNO_SetChannelConfig
 *    and VARNO_INT_AdStart keep the configuration code they had;
 *    VARNO_SetupTimer and VARNO_Do do nothing.
 *  - VARNO_INT_AdStop tells the driver to stop whenever the interrupt device
 *    is held. When it may not touch a port it cannot park the pacer: it sends
 *    the stop all the same and answers the stop's status (0 or 110); the park
 *    is owed to the board like a reset (above). With neither port access nor
 *    an interrupt device it does nothing and answers 13.
 *  - The requests that need no port (VARNO_InstallIrq, VARNO_GetIntCount,
 *    VARNO_GetBuffer, VARNO_GetFloatBuffer) are sent whatever the port access;
 *    without an interrupt device they fail with 111 or 110.
 *  - Configuration codes without a row in the range table (4-15, 20-65535):
 *    VARNO_SetChannelConfig and VARNO_INT_AdStart write channel and low byte
 *    and store the code as for any other, and settle with the longest
 *    settling wait of the range table (that of code 19). Volts under such a
 *    code use the range of the byte that went to GainControl when that byte
 *    is itself a code of the table (0x0113 put 0x13 on the board: code 19's
 *    range), and are otherwise a quiet NaN, so that an unknown gain is never
 *    taken for a reading; VARNO_GetFloatBuffer converts the same way.
 *    VARNO_Polling and VARNO_AdsPacerHex return codes under any configuration.
 *  - Sample counts of 2^31 or more are refused before anything is sent,
 *    because 2 x count bytes would wrap in the 32-bit request size:
 *    VARNO_GetFloatBuffer answers 17 (no buffer of that size can exist; no
 *    allocation is made, `volts` untouched), VARNO_GetBuffer answers 110 (the
 *    request cannot be made; `buffer` untouched).
 *  - A repeated VARNO_DriverInit first closes the handles it held (both
 *    devices are exclusive: a second open would be refused, and the old
 *    handles would leak).
 *  - VARNO_DriverClose forgets both handles: no later call closes or sends a
 *    request to a handle value the application may since have been given;
 *    requests then fail with their statuses and a second VARNO_DriverClose
 *    returns 0. A failed open is never closed and never sent a request.
 *  - At most 4 boards are recorded; further matching boards are passed over.
 *
 * Threads: every export may be called from several threads at once. The
 * library takes one lock of its own for the whole of each call that reads or
 * changes its state (all but VARNO_FloatSub, VARNO_ShortSub and
 * VARNO_GetDllVersion, which touch none), so calls run one after the other: a
 * call waits while another runs, VARNO_ActiveBoard's 100 ms pause and a whole
 * pacer-clocked block included. No request ever reaches a handle another
 * thread has closed meanwhile. The lock serialises calls, not sequences: a
 * thread that selects another board between two of your calls changes what
 * they address.
 *
 * On Linux there is no per-board interrupt driver: port access comes from the
 * kernel (CAP_SYS_RAWIO), and the library runs without the device.
 * VARNO_DriverInit opens no interrupt device (status 0, 1 or 14), and
 * VARNO_ActiveBoard neither closes nor opens one nor pauses (status 0 or
 * 13); everything that needs only ports works as on Windows. The
 * background-acquisition calls answer as for a missing device and touch
 * nothing: VARNO_InstallIrq 111; VARNO_INT_AdStart and VARNO_INT_AdStop 110
 * (the board is never started: nothing would service its interrupt);
 * VARNO_GetIntCount, VARNO_GetBuffer and VARNO_GetFloatBuffer 110;
 * VARNO_GetDriverVersion 2. VARNO_DriverClose answers for the port-access
 * device there: nonzero when it was held. The kernel grants port access per
 * thread: make the library's calls from the thread that called
 * VARNO_DriverInit, or from threads it creates afterwards.
 */
#ifndef DREMOR_H
#define DREMOR_H

#include <stdint.h>

#include "varno_board_map.h"

#if defined(_WIN32) && !defined(_WIN64)
#define DREMOR_CALL __stdcall
#else
#define DREMOR_CALL
#endif

#if defined(_WIN32)
#if defined(DREMOR_BUILDING_LIBRARY)
#define DREMOR_API
#else
#define DREMOR_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define DREMOR_API __attribute__((visibility("default")))
#else
#define DREMOR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses. */
#define DREMOR_OK 0                        /* success */
#define DREMOR_ERR_NO_DRIVER 1             /* the port-access driver "\\.\kelvra" cannot be opened */
#define DREMOR_ERR_DRIVER_VERSION 2        /* the version request to the interrupt driver failed */
#define DREMOR_ERR_AD_TIMEOUT 5            /* the A/D converter did not finish in time */
#define DREMOR_ERR_LAZY_NO_BOARD 6         /* VARNO_GetConfigAddressSpace: no board recorded yet, and
                                              none could be found now (none on the bus, or no port
                                              access) */
#define DREMOR_ERR_BOARD_RANGE 13          /* the board number (or, for the operations on the active
                                              board, the active board number) is not below the board
                                              count; or no board has been selected yet; or the
                                              operation needs port access and "\\.\kelvra" is not
                                              held now */
#define DREMOR_ERR_NO_BOARD 14             /* VARNO_DriverInit: the scan found no board */
#define DREMOR_ERR_NO_MEMORY 17            /* a temporary buffer could not be allocated */
#define DREMOR_ERR_NO_INTERRUPT_DEVICE 101 /* the interrupt device of the board cannot be opened */
#define DREMOR_ERR_INTERRUPT_REQUEST 110   /* a request to the interrupt driver failed */
#define DREMOR_ERR_INSTALL_IRQ 111         /* a request of VARNO_InstallIrq failed */

/* Board table capacity: boards 0-3, one interrupt device each. */
#define DREMOR_MAX_BOARDS 4

#define DREMOR_DLL_VERSION 0x0300
/* What VARNO_GetDriverVersion leaves in the caller's word when the driver
 * cannot be asked. */
#define DREMOR_NO_DRIVER_VERSION 0x1234

/* Configuration codes of VARNO_SetChannelConfig: the low byte goes to the
 * board's GainControl register; the code selects the input range the library
 * converts with and the settling wait (in clocks of 8254 counter 2). Codes,
 * ranges and settling counts: VARNO_RANGE_TABLE in varno_board_map.h. A code
 * converts to volts as (code - 2048) / 2048 x range, computed exactly and
 * rounded once to single precision. */

/* ---- Driver access, discovery and the active board -------------------------- */

/* Closes the devices held from before; opens the interrupt device of board
 * VARNO_WhichBoardActive() (0 at load; status 101 on failure), then
 * "\\.\kelvra" (status 1 on failure; the interrupt device stays open until
 * VARNO_DriverClose), then scans buses 0-9, devices 0-31, function 0 and
 * writes the number of boards found (at most 4) through `count`.
 * Status 0, 1, 14 or 101; on 1 and 101 `count` is not written. */
DREMOR_API unsigned short DREMOR_CALL VARNO_DriverInit(unsigned short* count);
/* For board `board` (which need not be the active one) writes its IoBase,
 * the DigitalIo port (IoBase + 0x20) and the AdData port (IoBase + 0x30),
 * 16-bit sums. Scans by itself while no scan has ever recorded a board, and
 * only while "\\.\kelvra" is held. Status 0, 6 or 13; nothing is written on
 * failure. */
DREMOR_API unsigned short DREMOR_CALL VARNO_GetConfigAddressSpace(unsigned short board,
                                                                  unsigned short* ioBase,
                                                                  unsigned short* dioPort,
                                                                  unsigned short* adPort);
/* Makes board `board` the active board: derives its register ports, resets
 * it (bridge interrupt off, channel 0, counters 1, 0, 2 parked), closes the
 * interrupt device held, waits 100 ms and opens the interrupt device of the
 * new board. Status 0, 13 (board not below the count: nothing changes) or
 * 101 (the new board's interrupt device cannot be opened; the board is
 * active and reset all the same). */
DREMOR_API unsigned short DREMOR_CALL VARNO_ActiveBoard(unsigned short board);
/* The number of the active board, 0 before any selection. */
DREMOR_API unsigned short DREMOR_CALL VARNO_WhichBoardActive(void);
/* Writes the active board's interrupt line (0 before any selection) and
 * returns 0. */
DREMOR_API unsigned short DREMOR_CALL VARNO_GetIrqNo(unsigned short* irq);
/* Writes DREMOR_NO_DRIVER_VERSION through `version`, then asks the interrupt
 * driver; on success writes its 16-bit version and returns 0, else returns 2
 * (also when no interrupt device is held). */
DREMOR_API unsigned short DREMOR_CALL VARNO_GetDriverVersion(unsigned short* version);
/* Closes "\\.\kelvra" and the interrupt device. Returns the result of
 * closing the interrupt device: nonzero when it was closed, 0 when none was
 * held. Board table, board count and active board stay. */
DREMOR_API int DREMOR_CALL VARNO_DriverClose(void);

/* ---- Timer and digital I/O of the active board ------------------------------- */

/* Loads 8254 counter (counter AND 3) of the active board with
 * `divisor` in mode 2 (rate generator: one output pulse every `divisor`
 * clocks, 0 meaning 65536), low byte then high byte. Counter number 3 names
 * the control register itself: the control word 0xF4 and both count bytes
 * then all land there. Counts are clocks of the board's counter clock, whose
 * frequency the library does not know. */
DREMOR_API void DREMOR_CALL VARNO_SetupTimer(unsigned short counter, unsigned short divisor);
/* Writes the 16 digital outputs. */
DREMOR_API void DREMOR_CALL VARNO_Do(unsigned short pattern);
/* Reads the 16 digital inputs through `pattern`; status 0. */
DREMOR_API unsigned short DREMOR_CALL VARNO_Di(unsigned short* pattern);
/* ---- A/D configuration and conversions on the active board ------------------ */

/* Selects A/D input `channel` and configuration code
 * `configCode` (table above), then waits for the input to settle, timed by
 * counter 2 (left in mode 0, counting). Status 0 (whether the wait ended on
 * the counter or on its poll limit). No board-number check. */
DREMOR_API unsigned short DREMOR_CALL VARNO_SetChannelConfig(unsigned char channel,
                                                             unsigned short configCode);
/* One software-triggered conversion, in volts under the current
 * configuration code. Status 0, 5 (no end of conversion within 65531 status
 * reads; `volts` untouched) or 13 (active board not below the board count). */
DREMOR_API unsigned short DREMOR_CALL VARNO_AdPolling(float* volts);
/* `count` software-triggered conversions in volts, 4 bytes apart.
 * Status 0, 5 (the samples before the failing one are kept, the rest of the
 * array is untouched) or 13. `count` 0 touches nothing and returns 0. */
DREMOR_API unsigned short DREMOR_CALL VARNO_AdsPolling(float* volts, unsigned short count);
/* One software-triggered conversion (the trigger a 16-bit write),
 * its 12-bit code (0-4095) through `rawCode`. Status 0, 5 or 13. */
DREMOR_API unsigned short DREMOR_CALL VARNO_Polling(unsigned short* rawCode);
/* A block of `count` conversions paced by counter 0 loaded with
 * `divisor` (mode 2; the rate is the counter clock / divisor), collected by
 * polling the end-of-conversion flag: each sample is one complete low-then-
 * high cycle of the flag. Stored in volts under the configuration code
 * current at the call. After a complete block counter 0 is parked (count 1);
 * a block that ends with 5 leaves it pacing and keeps the samples stored
 * before the failing one. Status 0, 5 or 13. */
DREMOR_API unsigned short DREMOR_CALL VARNO_AdsPacer(float* volts, unsigned short count,
                                                     unsigned short divisor);
/* As VARNO_AdsPacer, storing the 12-bit codes (0-4095). */
DREMOR_API unsigned short DREMOR_CALL VARNO_AdsPacerHex(unsigned short* buffer, unsigned short count,
                                                        unsigned short divisor);

/* ---- Interrupt-driven acquisition ------------------------------------------- *
 * The pacer (counter 0) clocks conversions on
 * one channel; each raises the board's interrupt, and the interrupt driver of
 * the active board counts the interrupts and keeps the 16-bit AdData words
 * (bits 0-11 the code, bits 12-15 whatever the board put there) until they
 * are fetched, oldest first. The library keeps no acquisition state.
 * Order: VARNO_DriverInit, VARNO_ActiveBoard, VARNO_InstallIrq,
 * VARNO_INT_AdStart, any number of fetches, VARNO_INT_AdStop. */

/* Hands the interrupt driver the 4 bytes at `userValue`, then the
 * active board's resources (16 bytes: BridgeBase, IoBase, IRQ line, each
 * zero-extended to 32 bits, then `userParam`). Writes nothing to the board.
 * Status 0, or 111 when either request fails (the second is not sent when
 * the first fails). */
DREMOR_API unsigned short DREMOR_CALL VARNO_InstallIrq(void* userValue, uint32_t userParam);
/* Parks the pacer, selects `channel` and `configCode` as
 * VARNO_SetChannelConfig does (configuration code stored, settling wait),
 * sets interrupt mode (AdModeControl 0x04), enables the bridge interrupt
 * (0x43) and starts the pacer with `divisor` (mode 2: one conversion every
 * `divisor` clocks, 0 meaning 65536). Status 0, or 13 before any board is
 * selected or without port access (nothing done). */
DREMOR_API unsigned short DREMOR_CALL VARNO_INT_AdStart(unsigned char channel, unsigned short configCode,
                                                        unsigned short divisor);
/* Parks the pacer, then tells the driver to stop. Status 0, 110
 * (the stop request failed; the pacer is parked all the same) or 13 (no
 * port access or no board selected, and no interrupt device: nothing done).
 * Without port access but with the interrupt device, the stop is sent and
 * its status answered; the park is owed (see the guarantees above).
 * Interrupt mode and the bridge interrupt stay on until the board is next
 * selected. */
DREMOR_API unsigned short DREMOR_CALL VARNO_INT_AdStop(void);
/* The driver's interrupt count through `intCount`. Status 0 or
 * 110 (`intCount` untouched). */
DREMOR_API unsigned short DREMOR_CALL VARNO_GetIntCount(uint32_t* intCount);
/* The `count` oldest held samples as the driver delivers them,
 * all 16 bits, into `buffer`. Status 0, 13 (active board not below the board
 * count), 110 (request failed, or `count` of 2^31 or more: see above).
 * `count` 0 sends a request for no words. */
DREMOR_API unsigned short DREMOR_CALL VARNO_GetBuffer(uint32_t count, unsigned short* buffer);
/* As VARNO_GetBuffer, in volts: bits 0-11 of each word converted
 * under the configuration code current at this call (not at the time of
 * sampling), through one temporary heap buffer of 2 x count bytes taken and
 * released within the call. Status 0, 13, 17 (no buffer; also for `count` of
 * 2^31 or more) or 110; `volts` is untouched unless the status is 0. */
DREMOR_API unsigned short DREMOR_CALL VARNO_GetFloatBuffer(uint32_t count, float* volts);

/* ---- The library version, and two arithmetic helpers older applications call - */

/* DREMOR_DLL_VERSION. */
DREMOR_API unsigned short DREMOR_CALL VARNO_GetDllVersion(void);
/* a - b, and a - b wrapping modulo 2^16; they touch no board. */
DREMOR_API float DREMOR_CALL VARNO_FloatSub(float a, float b);
DREMOR_API short DREMOR_CALL VARNO_ShortSub(short a, short b);

#ifdef __cplusplus
}
#endif

#endif
