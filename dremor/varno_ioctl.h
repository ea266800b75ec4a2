/* The interface of the VARNO interrupt driver: one kernel device per board,
 * "\\.\VARNO0" to "\\.\VARNO3", and the I/O-control requests it answers.
 *
 * Shared by the Dremor library, which sends the requests, and the simulated
 * bench's stand-in for the driver, which answers them. Applications do not
 * need it: the library's exports wrap every request.
 *
 * Requests: Windows CTL_CODE layout, device type 0x22 (FILE_DEVICE_UNKNOWN),
 * method 0 (METHOD_BUFFERED), access 0 (FILE_ANY_ACCESS), function in bits
 * 2-13. Every request is synchronous, without an overlapped structure; it
 * failed exactly when DeviceIoControl returns FALSE. Little-endian data.
 *
 *   request                      input                       output
 *   IOCTL_VARNO_IRQ_USER_VALUE   4 bytes, the caller's value  none
 *   IOCTL_VARNO_READ_SAMPLES     u32 count N                  N u16 sample words
 *   IOCTL_VARNO_STOP             none                         none
 *   IOCTL_VARNO_IRQ_RESOURCES    16 bytes, VarnoIrqResources  none
 *   IOCTL_VARNO_GET_INT_COUNT    none                         u32 interrupt count
 *   IOCTL_VARNO_GET_VERSION      none                         u16 driver version
 * "none" is a null pointer with size 0. */
#ifndef DREMOR_VARNO_IOCTL_H
#define DREMOR_VARNO_IOCTL_H

#include <stdint.h>

/* The device of board n (0 to VARNO_DEVICES - 1): VARNO_DEVICE_PREFIX
 * followed by the digit n. */
#define VARNO_DEVICE_PREFIX "\\\\.\\VARNO"
#define VARNO_DEVICES 4

#define VARNO_CTL_CODE(function) ((0x22u << 16) | (0u << 14) | ((uint32_t)(function) << 2) | 0u)
#define IOCTL_VARNO_IRQ_USER_VALUE VARNO_CTL_CODE(0)
#define IOCTL_VARNO_READ_SAMPLES VARNO_CTL_CODE(3)
#define IOCTL_VARNO_STOP VARNO_CTL_CODE(4)
#define IOCTL_VARNO_IRQ_RESOURCES VARNO_CTL_CODE(5)
#define IOCTL_VARNO_GET_INT_COUNT VARNO_CTL_CODE(6)
#define IOCTL_VARNO_GET_VERSION VARNO_CTL_CODE(11)

#define VARNO_USER_VALUE_SIZE 4u
#define VARNO_SAMPLE_COUNT_SIZE 4u
#define VARNO_INT_COUNT_SIZE 4u
#define VARNO_VERSION_SIZE 2u

/* Input of IOCTL_VARNO_IRQ_RESOURCES: the board's bridge base, board-block
 * base and interrupt line, zero-extended, then the caller's parameter. After
 * it the driver services the interrupt of the board so described. */
typedef struct VarnoIrqResources {
  uint32_t BridgeBase;
  uint32_t IoBase;
  uint32_t Irq;
  uint32_t UserParam;
} VarnoIrqResources;
#define VARNO_IRQ_RESOURCES_SIZE 16u

#ifdef __cplusplus
static_assert(sizeof(VarnoIrqResources) == VARNO_IRQ_RESOURCES_SIZE, "16-byte request record");
#endif

#endif
