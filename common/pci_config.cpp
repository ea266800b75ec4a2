#include "pci_config.h"

#include "port_io.h"

void PciSelectConfigRegister(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg) {
  const uint32_t address = 0x80000000u | (uint32_t)bus << 16 | (uint32_t)(device & 0x1Fu) << 11 |
                           (uint32_t)(function & 0x07u) << 8 | (uint32_t)(reg & 0x3Fu) << 2;
  PortWrite32(PCI_CONFIG_ADDRESS_PORT, address);
}

uint32_t PciReadConfig32(uint8_t bus, uint8_t device, uint8_t reg) {
  PciSelectConfigRegister(bus, device, 0, reg);
  return PortRead32(PCI_CONFIG_DATA_PORT);
}

void PciWalkBus(const PciIdMatch* table, size_t rows, PciRecordBoard record, void* context) {
  for (uint8_t bus = 0; bus < PCI_SCAN_BUSES; ++bus) {
    for (uint8_t device = 0; device < PCI_DEVICES_PER_BUS; ++device) {
      PciSelectConfigRegister(bus, device, 0, PCI_REG_ID);
      const uint16_t vendorId = PortRead16(PCI_CONFIG_DATA_PORT);
      const uint16_t deviceId = PortRead16(PCI_CONFIG_DATA_HIGH_PORT);
      for (size_t i = 0; i < rows; ++i) {
        if (table[i].vendorId == vendorId && table[i].deviceId == deviceId) {
          record(context, bus, device, table[i].kind);
          break;
        }
      }
    }
  }
}
