// PCI configuration mechanism #1, as both libraries use it to find their boards.
//
// A configuration read is two steps: write the address of a 32-bit
// configuration register to the address port 0xCF8, then read the selected
// register through the data window at 0xCFC (the whole register, or its low
// half) or 0xCFE (its high half). Two half reads may follow one select.
#ifndef DAQ_COMMON_PCI_CONFIG_H
#define DAQ_COMMON_PCI_CONFIG_H

#include <stdint.h>

#define PCI_CONFIG_ADDRESS_PORT 0x0CF8u
#define PCI_CONFIG_DATA_PORT 0x0CFCu
#define PCI_CONFIG_DATA_HIGH_PORT 0x0CFEu

// Configuration register indexes (byte offset / 4) the libraries read.
#define PCI_REG_ID 0u           // 0x00: vendor ID (low half), device ID (high half)
#define PCI_REG_BAR0 4u         // 0x10..0x24: base address registers 0..5
#define PCI_REG_INTERRUPT 15u   // 0x3C: interrupt line (bits 0-7), pin (bits 8-15)

// Buses the libraries scan (ten, not 256) and devices per bus; function 0 only.
#define PCI_SCAN_BUSES 10u
#define PCI_DEVICES_PER_BUS 32u

// Writes 0x80000000 | bus << 16 | device << 11 | function << 8 | reg << 2 to
// the address port: enable bit set, register index in bits 7-2, bits 1-0 zero.
void PciSelectConfigRegister(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg);

#endif
