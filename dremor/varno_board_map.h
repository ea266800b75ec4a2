/* Register map of the VARNO multifunction board.
 *
 * The one place on the library side where the board's layout is written down:
 * the Dremor library and the command-line tool take it from here. (The
 * simulated bench and the tests keep their own description of the board on
 * purpose: they are the independent check that catches a wrong entry here.)
 * Plain C: it compiles as C89.
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
#define VARNO_COUNTERS 3

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
/* Bit 7 of the high byte read back, i.e. bit 15 of the count: set once a
 * mode-0 count of at most 0x7FFF has run through zero and wrapped to 0xFFFF. */
#define VARNO_COUNT_HIGH_BIT 0x80u

/* The analog inputs: 16 multiplexer channels, 12-bit codes in offset binary
 * (VARNO_AD_MID_SCALE is 0 V; one step is range / 2048, VARNO_AD_STEP being
 * 1/2048, exact in single precision). Codes 0 and VARNO_AD_MAX_CODE are the
 * ends of the range: an input beyond it reads as one of them. */
#define VARNO_CHANNELS 16
#define VARNO_AD_BITS 12
#define VARNO_AD_MAX_CODE 0x0FFF
#define VARNO_AD_MID_SCALE 0x800
#define VARNO_AD_STEP 0.00048828125f

/* The input ranges: for each configuration code, the byte the board's
 * GainControl register receives, the full scale of the range in volts (a
 * single-precision constant: volts are computed from exactly these values)
 * and the settling count N (the settling wait after selecting the range runs
 * for VARNO_SETTLING_CLOCKS_PER_STEP x N clocks of 8254 counter 2).
 *
 *   X(code, gain byte, full scale, settling N)
 *
 * Codes 0-3 divide the +-10 V span by 1, 2, 4 and 8, codes 16-19 by 1, 10,
 * 100 and 1000. Other codes have no range. */
#define VARNO_RANGE_TABLE(X)      \
  X(0, 0x00, 10.0f, 23)           \
  X(1, 0x01, 5.0f, 23)            \
  X(2, 0x02, 2.5f, 23)            \
  X(3, 0x03, 1.25f, 23)           \
  X(16, 0x10, 10.0f, 23)          \
  X(17, 0x11, 1.0f, 28)           \
  X(18, 0x12, 0.1f, 140)          \
  X(19, 0x13, 0.01f, 1300)
#define VARNO_SETTLING_CLOCKS_PER_STEP 4

#endif
