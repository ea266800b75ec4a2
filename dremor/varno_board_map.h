/* Register map and driver interface of the VARNO multifunction board.
 *
 * The one place where the board's layout is written down: the Dremor library,
 * the simulated bench, the command-line tool and the tests all take it from
 * here.
 *
 * PCI identity: vendor 0x1234, device 0x5C2A.
 *
 * Base address registers (configuration space):
 *   BAR0 (0x10)  memory window of the PCI bridge (not used by software here)
 *   BAR1 (0x14)  bridge block, 128 I/O ports  -> BridgeBase
 *   BAR2 (0x18)  board block, 64 I/O ports    -> IoBase
 *   0x3C         interrupt line (bits 0-7), interrupt pin (bits 8-15)
 * The library keeps each base as the low 16 bits of the register with bit 0
 * (the I/O-space indicator) cleared.
 *
 * Board block, IoBase + offset (every port is a 16-bit sum, wrapping at 0x10000):
 *   0x00  Counter0         8  write        8254 counter 0: the A/D pacer clock
 *   0x04  Counter1         8  write        8254 counter 1: free for the application
 *   0x08  Counter2         8  write/read   8254 counter 2: settling delay; read after a latch command
 *   0x0C  CounterControl   8  write        8254 control word
 *   0x10  ChannelSelect    8  write        A/D input channel
 *   0x10  AdStatus         8  read         bit 0: end of conversion (1 = AdData holds the result)
 *   0x14  GainControl      8  write        input range (low byte of the configuration code)
 *   0x18  AdModeControl    8  write        0x00 pacer-clocked polling, 0x04 interrupt-driven
 *   0x1C  SoftwareTrigger  8/16 write      any write starts one conversion
 *   0x20  DigitalIo        16 write/read   write: output pattern; read: input pattern
 *   0x30  AdData           16 read         bits 0-11: code, offset binary (2048 = 0 V)
 * Bridge block, BridgeBase + offset:
 *   0x4C  InterruptControl 8  write        0x00 board interrupt off, 0x43 on
 */
#ifndef DREMOR_VARNO_BOARD_MAP_H
#define DREMOR_VARNO_BOARD_MAP_H

#include <stdint.h>

#define VARNO_PCI_VENDOR_ID 0x1234u
#define VARNO_PCI_DEVICE_ID 0x5C2Au

/* Base address registers and the sizes of the blocks behind them. */
#define VARNO_BRIDGE_MEMORY_BAR 0
#define VARNO_BRIDGE_BAR 1
#define VARNO_BRIDGE_BLOCK_SIZE 0x80u
#define VARNO_BOARD_BAR 2
#define VARNO_BOARD_BLOCK_SIZE 0x40u

/* Board block offsets. ChannelSelect (write) and AdStatus (read) share a port. */
#define VARNO_COUNTER0 0x00u
#define VARNO_COUNTER1 0x04u
#define VARNO_COUNTER2 0x08u
#define VARNO_COUNTER_CONTROL 0x0Cu
#define VARNO_CHANNEL_SELECT 0x10u
#define VARNO_AD_STATUS 0x10u
#define VARNO_GAIN_CONTROL 0x14u
#define VARNO_AD_MODE_CONTROL 0x18u
#define VARNO_SOFTWARE_TRIGGER 0x1Cu
#define VARNO_DIGITAL_IO 0x20u
#define VARNO_AD_DATA 0x30u
/* Counter n of the 8254 sits at IoBase + n * VARNO_COUNTER_STRIDE. */
#define VARNO_COUNTER_STRIDE 0x04u

/* Bridge block offset. */
#define VARNO_INTERRUPT_CONTROL 0x4Cu

/* Values. */
#define VARNO_INTERRUPT_OFF 0x00u        /* InterruptControl: board interrupt disabled */
#define VARNO_INTERRUPT_ON 0x43u         /* InterruptControl: board interrupt enabled */
#define VARNO_AD_MODE_PACER 0x00u        /* AdModeControl: pacer-clocked, polled */
#define VARNO_AD_MODE_INTERRUPT 0x04u    /* AdModeControl: interrupt-driven */
#define VARNO_AD_STATUS_DONE 0x01u       /* AdStatus bit 0: conversion finished */
#define VARNO_AD_CODE_MASK 0x0FFFu       /* AdData bits holding the code */
/* 8254 control words: counter n, low byte then high byte, mode 2, binary is
 * (n << 6) + VARNO_CW_MODE2_LOHI; counter 2 in mode 0; latch counter 2. */
#define VARNO_CW_MODE2_LOHI 0x34u
#define VARNO_CW_COUNTER2_MODE0 0xB0u
#define VARNO_CW_LATCH_COUNTER2 0x80u
/* The count loaded to park a counter: no usable output. */
#define VARNO_PARK_COUNT 1u
/* Byte lanes of a 16-bit count and of a latched counter value. */
#define VARNO_COUNT_LOW_BYTE(count) ((uint8_t)((count) & 0xFFu))
#define VARNO_COUNT_HIGH_BYTE(count) ((uint8_t)(((count) >> 8) & 0xFFu))
/* Bit 7 of the high byte read back, i.e. bit 15 of the count: set once a
 * mode-0 count of at most 0x7FFF has run through zero and wrapped to 0xFFFF. */
#define VARNO_COUNT_HIGH_BIT 0x80u

/* A/D timing bounds, counts rather than times (the library knows no clock):
 * a wait for the end-of-conversion flag gives up after this many AdStatus
 * reads; the settling wait loads at most 0x7FFF (so bit 15 can only come from
 * the wrap) and polls counter 2 at most 32767 times. */
#define VARNO_AD_STATUS_READS 65531u
#define VARNO_SETTLING_COUNT_MASK 0x7FFFu
#define VARNO_SETTLING_MAX_POLLS 32767u

/* The count the settling wait loads for a requested count: bits 0-14, with 1
 * in place of 0 (which the 8254 would take as 65536). */
static inline uint16_t VarnoSettlingLoadCount(uint32_t count) {
  const uint16_t loaded = (uint16_t)(count & VARNO_SETTLING_COUNT_MASK);
  return loaded != 0 ? loaded : (uint16_t)1;
}

/* A/D code: 12-bit offset binary, VARNO_AD_MID_SCALE at 0 V, one step is
 * range / 2048 (VARNO_AD_STEP = 1/2048, exact in single precision). */
#define VARNO_AD_MID_SCALE 0x800
#define VARNO_AD_STEP 0.00048828125f

/* Kernel devices: the port-access driver, and the interrupt driver of board n
 * (0-3) at VARNO_DEVICE_PREFIX followed by the digit n. */
#define VARNO_PORT_ACCESS_DEVICE "\\\\.\\kelvra"
#define VARNO_DEVICE_PREFIX "\\\\.\\VARNO"
#define VARNO_MAX_BOARDS 4

/* Requests to the interrupt driver: Windows CTL_CODE layout, device type 0x22
 * (FILE_DEVICE_UNKNOWN), method 0 (METHOD_BUFFERED), access 0 (FILE_ANY_ACCESS),
 * function in bits 2-13. Little-endian data.
 *
 *   request                      input                       output
 *   IOCTL_VARNO_IRQ_USER_VALUE   4 bytes, the caller's value  none
 *   IOCTL_VARNO_READ_SAMPLES     u32 count N                  N u16 sample words
 *   IOCTL_VARNO_STOP             none                         none
 *   IOCTL_VARNO_IRQ_RESOURCES    16 bytes, VarnoIrqResources  none
 *   IOCTL_VARNO_GET_INT_COUNT    none                         u32 interrupt count
 *   IOCTL_VARNO_GET_VERSION      none                         u16 driver version
 * "none" is a null pointer with size 0. */
#define VARNO_CTL_CODE(function) ((0x22u << 16) | (0u << 14) | ((uint32_t)(function) << 2) | 0u)
#define IOCTL_VARNO_IRQ_USER_VALUE VARNO_CTL_CODE(0)  /* 0x220000 */
#define IOCTL_VARNO_READ_SAMPLES VARNO_CTL_CODE(3)    /* 0x22000C */
#define IOCTL_VARNO_STOP VARNO_CTL_CODE(4)            /* 0x220010 */
#define IOCTL_VARNO_IRQ_RESOURCES VARNO_CTL_CODE(5)   /* 0x220014 */
#define IOCTL_VARNO_GET_INT_COUNT VARNO_CTL_CODE(6)   /* 0x220018 */
#define IOCTL_VARNO_GET_VERSION VARNO_CTL_CODE(11)    /* 0x22002C */

#define VARNO_USER_VALUE_SIZE 4u
#define VARNO_SAMPLE_COUNT_SIZE 4u
#define VARNO_INT_COUNT_SIZE 4u
#define VARNO_VERSION_SIZE 2u

/* Input of IOCTL_VARNO_IRQ_RESOURCES: the active board's 16-bit fields,
 * zero-extended, then the caller's parameter. */
typedef struct VarnoIrqResources {
  uint32_t BridgeBase;
  uint32_t IoBase;
  uint32_t Irq;
  uint32_t UserParam;
} VarnoIrqResources;
#define VARNO_IRQ_RESOURCES_SIZE 16u

#ifdef __cplusplus
static_assert(sizeof(VarnoIrqResources) == VARNO_IRQ_RESOURCES_SIZE, "16-byte request record");
static_assert(IOCTL_VARNO_GET_VERSION == 0x22002Cu, "request code layout");
static_assert(IOCTL_VARNO_IRQ_RESOURCES == 0x220014u, "request code layout");
#endif

#endif
