#include "pci_config.h"

#include "port_io.h"

void PciSelectConfigRegister(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg) {
  const uint32_t address = 0x80000000u | (uint32_t)bus << 16 | (uint32_t)(device & 0x1Fu) << 11 |
                           (uint32_t)(function & 0x07u) << 8 | (uint32_t)(reg & 0x3Fu) << 2;
  PortWrite32(PCI_CONFIG_ADDRESS_PORT, address);
}
