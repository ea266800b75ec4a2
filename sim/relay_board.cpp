#include "daqsim/relay_board.h"

#include "relay_board_map.h"

namespace daqsim {

PciIdentity RelayBoard::Identity(RelayModel model) {
  PciIdentity id;
  id.vendorId = RELAY_PCI_VENDOR_ID;
  id.deviceId = model == RelayModel::kKorvel ? KORVEL_PCI_DEVICE_ID : LUMAR_PCI_DEVICE_ID;
  id.classCode = 0x118000;  // data acquisition controller, other
  id.subsystemVendorId = RELAY_PCI_VENDOR_ID;
  id.subsystemId = id.deviceId;
  return id;
}

RelayBoard::RelayBoard(RelayModel model, const BarSet& bars, uint8_t interruptLine)
    : PciFunction(Identity(model), bars, interruptLine, 1), model_(model) {}

void RelayBoard::SetInputs(uint16_t pattern) {
  inputs_ = model_ == RelayModel::kKorvel ? pattern : uint16_t(pattern & 0xFF);
}

uint16_t RelayBoard::OutputPort() const {
  return uint16_t(bar(RELAY_BOARD_BLOCK_BAR).base +
                  (model_ == RelayModel::kKorvel ? KORVEL_OUTPUT_OFFSET : LUMAR_OUTPUT_OFFSET));
}

uint16_t RelayBoard::InputPort() const {
  return uint16_t(bar(RELAY_BOARD_BLOCK_BAR).base +
                  (model_ == RelayModel::kKorvel ? KORVEL_INPUT_OFFSET : LUMAR_INPUT_OFFSET));
}

int RelayBoard::ReadByte(uint32_t offset) const {
  if (model_ == RelayModel::kKorvel) {
    switch (offset) {
      case KORVEL_OUTPUT_OFFSET: return outputs_ & 0xFF;
      case KORVEL_OUTPUT_OFFSET + 1: return outputs_ >> 8;
      case KORVEL_INPUT_OFFSET: return inputs_ & 0xFF;
      case KORVEL_INPUT_OFFSET + 1: return inputs_ >> 8;
      default: return -1;
    }
  }
  switch (offset) {
    case LUMAR_OUTPUT_OFFSET: return outputs_ & 0xFF;
    case LUMAR_INPUT_OFFSET: return inputs_ & 0xFF;
    default: return -1;
  }
}

void RelayBoard::WriteByte(uint32_t offset, uint8_t value) {
  if (model_ == RelayModel::kKorvel) {
    if (offset == KORVEL_OUTPUT_OFFSET) outputs_ = uint16_t((outputs_ & 0xFF00) | value);
    if (offset == KORVEL_OUTPUT_OFFSET + 1) outputs_ = uint16_t((outputs_ & 0x00FF) | value << 8);
  } else if (offset == LUMAR_OUTPUT_OFFSET) {
    outputs_ = value;
  }
}

uint32_t RelayBoard::IoRead(int bar, uint32_t offset, unsigned width) {
  if (bar != RELAY_BOARD_BLOCK_BAR) return PciFunction::IoRead(bar, offset, width);
  uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const int byte = ReadByte(offset + i);
    value |= uint32_t(byte < 0 ? 0xFF : byte) << (8 * i);
  }
  return value;
}

void RelayBoard::IoWrite(int bar, uint32_t offset, unsigned width, uint32_t value) {
  if (bar != RELAY_BOARD_BLOCK_BAR) return;
  for (unsigned i = 0; i < width; ++i) WriteByte(offset + i, uint8_t(value >> (8 * i)));
}

const char* RelayBoard::RegisterName(int bar, uint32_t offset, bool write) const {
  if (bar == RELAY_BRIDGE_IO_BAR) return "BridgeIo";
  if (bar != RELAY_BOARD_BLOCK_BAR) return nullptr;
  const bool korvel = model_ == RelayModel::kKorvel;
  if (offset == (korvel ? KORVEL_OUTPUT_OFFSET : LUMAR_OUTPUT_OFFSET)) return "RelayOutput";
  if (offset == (korvel ? KORVEL_INPUT_OFFSET : LUMAR_INPUT_OFFSET)) return write ? "InputReadOnly" : "Input";
  return nullptr;
}

}  // namespace daqsim
