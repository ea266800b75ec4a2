/* Register map of the KORVEL and LUMAR relay boards.
 *
 * The library itself takes complete port addresses and fixes no map; this is
 * where the boards' layout is written down, once, for applications, the
 * command-line tool, the simulated bench and the tests.
 *
 * PCI identity: vendor 0x1234; device 0x5C21 (KORVEL, 16 relays, 16 inputs) or
 * 0x5C22 (LUMAR, 8 relays, 8 inputs).
 *
 * Base address registers, as PCI_GetConfigAddressSpace reports them:
 *   BaseAddress[0]  memory window of the PCI bridge (not used by software here)
 *   BaseAddress[1]  I/O window of the PCI bridge, 128 ports (not used here)
 *   BaseAddress[2]  board block, 16 ports:
 *
 *   KORVEL  block + 0x00  16-bit  read/write  relay outputs; reading returns the relay states
 *           block + 0x02  16-bit  read        input pattern
 *   LUMAR   block + 0x00   8-bit  read/write  relay outputs; reading returns the relay states
 *           block + 0x01   8-bit  read        input pattern
 *
 * A relay is energised while its output bit is 1. Every other port of the
 * block reads all ones and ignores writes.
 */
#ifndef KORVEL_RELAY_BOARD_MAP_H
#define KORVEL_RELAY_BOARD_MAP_H

#define RELAY_PCI_VENDOR_ID 0x1234u
#define KORVEL_PCI_DEVICE_ID 0x5C21u
#define LUMAR_PCI_DEVICE_ID 0x5C22u

/* Values of the model code (BoardKind) reported by PCI_GetConfigAddressSpace. */
#define RELAY_KIND_KORVEL 0u
#define RELAY_KIND_LUMAR 1u

#define RELAY_BRIDGE_MEMORY_BAR 0
#define RELAY_BRIDGE_IO_BAR 1
#define RELAY_BRIDGE_IO_SIZE 0x80u
#define RELAY_BOARD_BLOCK_BAR 2
#define RELAY_BOARD_BLOCK_SIZE 0x10u

#define KORVEL_OUTPUT_OFFSET 0x00u
#define KORVEL_INPUT_OFFSET 0x02u
#define LUMAR_OUTPUT_OFFSET 0x00u
#define LUMAR_INPUT_OFFSET 0x01u

#endif
