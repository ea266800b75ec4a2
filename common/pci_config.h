// PCI configuration mechanism #1, and the bus walk both libraries use to find
// their boards.
//
// A configuration read is two steps: write the address of a 32-bit
// configuration register to the address port 0xCF8, then read the selected
// register through the data window at 0xCFC (the whole register, or its low
// half) or 0xCFE (its high half). Two half reads may follow one select.
#ifndef DAQ_COMMON_PCI_CONFIG_H
#define DAQ_COMMON_PCI_CONFIG_H

#include <stddef.h>
#include <stdint.h>

#define PCI_CONFIG_ADDRESS_PORT 0x0CF8u
#define PCI_CONFIG_DATA_PORT 0x0CFCu
#define PCI_CONFIG_DATA_HIGH_PORT 0x0CFEu

// Configuration register indexes (byte offset / 4) the libraries read.
#define PCI_REG_ID 0u           // 0x00: vendor ID (low half), device ID (high half)
#define PCI_REG_BAR0 4u         // 0x10..0x24: base address registers 0..5
#define PCI_REG_INTERRUPT 15u   // 0x3C: interrupt line (bits 0-7), pin (bits 8-15)

// A base address register as the libraries keep it: the low 16 bits with
// bit 0, the I/O-space indicator, cleared (bit 1 stays as read).
#define PCI_BASE_WORD_MASK 0xFFFEu

// Buses the libraries scan (ten, not 256) and devices per bus; function 0 only.
#define PCI_SCAN_BUSES 10u
#define PCI_DEVICES_PER_BUS 32u

// Writes 0x80000000 | bus << 16 | device << 11 | function << 8 | reg << 2 to
// the address port: enable bit set, register index in bits 7-2, bits 1-0 zero.
void PciSelectConfigRegister(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg);

// Selects register `reg` of function 0 and reads it whole.
uint32_t PciReadConfig32(uint8_t bus, uint8_t device, uint8_t reg);

// One row of a library's PCI id table: a vendor and device ID it drives, and
// the code the library gives boards of that identity.
struct PciIdMatch {
  uint16_t vendorId;
  uint16_t deviceId;
  uint16_t kind;
};

// Walks buses 0-9, devices 0-31, function 0, in that order (the order that
// numbers the boards). For every slot it selects register 0 and reads the
// vendor ID (0xCFC) and then the device ID (0xCFE); a slot whose pair is in
// `table` is handed to `record` with the kind of the first row that matches,
// for the caller to read what it keeps of the board. An empty slot reads
// 0xFFFF and matches nothing. Needs port access.
typedef void (*PciRecordBoard)(void* context, uint8_t bus, uint8_t device, uint16_t kind);
void PciWalkBus(const PciIdMatch* table, size_t rows, PciRecordBoard record, void* context);

#endif
