/* Korvel: user-mode driver library for the KORVEL (16-bit) and LUMAR (8-bit)
 * relay-output / digital-input PCI boards.
 *
 * Usable from C and C++, with MinGW and MSVC. On 32-bit Windows every export
 * is __stdcall under its plain name; korvel.def lists the exports of
 * Korvel.dll with their ordinals.
 * Every argument occupies a 32-bit slot of which only the stated width is
 * used. Statuses are 16-bit, 0 for success; pointer arguments are not tested.
 *
 * Threads: every function may be called from several threads at once. The
 * discovery functions (PCI_DriverInit, PCI_GetConfigAddressSpace,
 * PCI_ActiveBoard, PCI_WhichBoardActive, PCI_DriverClose) take one lock of
 * the library's own for the whole call, so they run one after the other. The
 * four I/O functions take none (each is one test of the driver flag and one
 * port instruction): the caller orders calls that touch the same board, and
 * must not close the driver while another thread is in one of them.
 *
 * Typical use:
 *   unsigned short count, kind, base[6];
 *   if (PCI_DriverInit(&count) == KORVEL_OK) {
 *     PCI_GetConfigAddressSpace(0, &kind, &base[0], &base[1], &base[2], &base[3], &base[4], &base[5]);
 *     KORVEL_DO(base[2] + KORVEL_OUTPUT_OFFSET, 0x00FF);      // see relay_board_map.h
 *     unsigned short in = KORVEL_DI(base[2] + KORVEL_INPUT_OFFSET);
 *     PCI_DriverClose();
 *   }
 */
#ifndef KORVEL_H
#define KORVEL_H

#include "relay_board_map.h"

#if defined(_WIN32) && !defined(_WIN64)
#define KORVEL_CALL __stdcall
#else
#define KORVEL_CALL
#endif

#if defined(_WIN32)
#if defined(KORVEL_BUILDING_LIBRARY)
#define KORVEL_API
#else
#define KORVEL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define KORVEL_API __attribute__((visibility("default")))
#else
#define KORVEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses. */
#define KORVEL_OK 0                  /* success */
#define KORVEL_ERR_NO_DRIVER 1       /* the port-access driver "\\.\kelvra" cannot be opened */
#define KORVEL_ERR_NO_BOARD 3        /* PCI_DriverInit: the scan found no board of either model */
#define KORVEL_ERR_LAZY_NO_BOARD 4   /* PCI_GetConfigAddressSpace: no board found yet, and no board
                                        could be found now (none on the bus, or no port access) */
#define KORVEL_ERR_BOARD_RANGE 5     /* board number not below the board count */

/* Board table capacity and the active-board number before any selection. */
#define KORVEL_MAX_BOARDS 16
#define KORVEL_NO_ACTIVE_BOARD 100

#define KORVEL_DLL_VERSION 0x0201
#define KORVEL_DRIVER_VERSION 0x0210

/* ---- Driver access and discovery ---------------------------------------- */

/* Opens "\\.\kelvra" (status 1 on failure, count untouched), then scans
 * buses 0-9, devices 0-31, function 0 for both models, numbering boards in
 * scan order (at most 16 are recorded); writes the count. Status 0, 1 or 3.
 * A repeated call closes the handle it held before opening anew. */
KORVEL_API unsigned short KORVEL_CALL PCI_DriverInit(unsigned short* count);
/* (On Linux, "\\.\kelvra" stands for the port access the kernel grants to a
 * process with CAP_SYS_RAWIO: status 1 when it refuses. The grant covers the
 * whole port space, since the I/O operations take any port, and holds for the
 * calling thread and the threads it creates afterwards.) */
/* The model code (0 KORVEL, 1 LUMAR) and the six base words (BAR0..BAR5,
 * AND 0xFFFE) of board `board`. Status 0, 4 or 5; nothing is written on
 * failure. Scans by itself only while no scan has ever found a board, and
 * only while the port-access driver is held (otherwise 4). */
KORVEL_API unsigned short KORVEL_CALL PCI_GetConfigAddressSpace(
    unsigned short board, unsigned short* kind, unsigned short* base0, unsigned short* base1,
    unsigned short* base2, unsigned short* base3, unsigned short* base4, unsigned short* base5);
/* Records `board` as the active board number. Status 0 or 5. Nothing else
 * uses the number. */
KORVEL_API unsigned short KORVEL_CALL PCI_ActiveBoard(unsigned short board);
/* The board number last accepted by PCI_ActiveBoard, 100 before. */
KORVEL_API unsigned short KORVEL_CALL PCI_WhichBoardActive(void);
/* Closes the port-access driver; nonzero when a handle was closed, 0 when
 * none was held (a second call closes nothing). The board table stays. */
KORVEL_API int KORVEL_CALL PCI_DriverClose(void);

/* ---- Relays and inputs ---------------------------------------------------- */

/* One port access each at the complete port address given (formed from a
 * base word and an offset of relay_board_map.h). While the port-access
 * driver is not held (before a successful PCI_DriverInit, after a failed one,
 * after PCI_DriverClose) they make no port access: the outputs write nothing
 * and the inputs return all ones, which is what an empty bus reads. */
KORVEL_API void KORVEL_CALL KORVEL_DO(unsigned short port, unsigned short pattern);
KORVEL_API unsigned short KORVEL_CALL KORVEL_DI(unsigned short port);
KORVEL_API void KORVEL_CALL LUMAR_DO(unsigned short port, unsigned char pattern);
KORVEL_API unsigned char KORVEL_CALL LUMAR_DI(unsigned short port);

/* ---- Versions, and two arithmetic helpers older applications call --------- */

/* The library version, KORVEL_DLL_VERSION. */
KORVEL_API unsigned short KORVEL_CALL PCI_GetDllVersion(void);
/* Writes KORVEL_DRIVER_VERSION and returns 0; does not contact the driver. */
KORVEL_API unsigned short KORVEL_CALL PCI_GetDriverVersion(unsigned short* version);
/* a - b; and a - b wrapping modulo 2^16. They touch no board. */
KORVEL_API float KORVEL_CALL PCI_FloatSub2(float a, float b);
KORVEL_API short KORVEL_CALL PCI_ShortSub2(short a, short b);

#ifdef __cplusplus
}
#endif

#endif
