#include "daqsim/relay_board.h"

#include "board_layout.h"

namespace daqsim {
namespace {

// Each model's block: the PCI device ID, and the offsets of the relay-output
// and input registers, each `width` bits wide (see board_layout.h: written
// independently of the library's register map).
struct ModelLayout {
  uint16_t deviceId;
  uint32_t output;
  uint32_t input;
};

constexpr ModelLayout kKorvel{layout::kKorvelDeviceId, 0x00, 0x02};  // 16-bit registers
constexpr ModelLayout kLumar{layout::kLumarDeviceId, 0x00, 0x01};    // 8-bit registers

const ModelLayout& LayoutOf(RelayModel model) { return model == RelayModel::kKorvel ? kKorvel : kLumar; }

}  // namespace

PciIdentity RelayBoard::Identity(RelayModel model) {
  PciIdentity id;
  id.vendorId = layout::kVendorId;
  id.deviceId = LayoutOf(model).deviceId;
  id.classCode = layout::kClassCode;
  id.subsystemVendorId = layout::kVendorId;
  id.subsystemId = id.deviceId;
  return id;
}

RelayBoard::RelayBoard(RelayModel model, const BarSet& bars, uint8_t interruptLine)
    : PciFunction(Identity(model), bars, interruptLine, 1), model_(model) {}

void RelayBoard::SetInputs(uint16_t pattern) {
  inputs_ = model_ == RelayModel::kKorvel ? pattern : uint16_t(pattern & 0xFF);
}

uint16_t RelayBoard::OutputPort() const {
  return uint16_t(bar(layout::kBoardBlockBar).base + LayoutOf(model_).output);
}

uint16_t RelayBoard::InputPort() const {
  return uint16_t(bar(layout::kBoardBlockBar).base + LayoutOf(model_).input);
}

int RelayBoard::ReadByte(uint32_t offset) const {
  const ModelLayout& l = LayoutOf(model_);
  const unsigned bytes = width() / 8;
  if (offset - l.output < bytes) return (outputs_ >> (8 * (offset - l.output))) & 0xFF;
  if (offset - l.input < bytes) return (inputs_ >> (8 * (offset - l.input))) & 0xFF;
  return -1;
}

void RelayBoard::WriteByte(uint32_t offset, uint8_t value) {
  const uint32_t lane = offset - LayoutOf(model_).output;
  if (lane >= width() / 8) return;
  const unsigned shift = 8 * lane;
  outputs_ = uint16_t((outputs_ & ~(0xFFu << shift)) | uint32_t(value) << shift);
}

uint32_t RelayBoard::IoRead(int bar, uint32_t offset, unsigned width) {
  if (bar != layout::kBoardBlockBar) return PciFunction::IoRead(bar, offset, width);
  uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const int byte = ReadByte(offset + i);
    value |= uint32_t(byte < 0 ? 0xFF : byte) << (8 * i);
  }
  return value;
}

void RelayBoard::IoWrite(int bar, uint32_t offset, unsigned width, uint32_t value) {
  if (bar != layout::kBoardBlockBar) return;
  const uint32_t output = LayoutOf(model_).output;
  if (offset < output + this->width() / 8 && offset + width > output) ++outputWrites_;
  for (unsigned i = 0; i < width; ++i) WriteByte(offset + i, uint8_t(value >> (8 * i)));
}

const char* RelayBoard::RegisterName(int bar, uint32_t offset, bool write) const {
  if (bar == layout::kBridgeIoBar) return "BridgeIo";
  if (bar != layout::kBoardBlockBar) return nullptr;
  const ModelLayout& l = LayoutOf(model_);
  if (offset == l.output) return "RelayOutput";
  if (offset == l.input) return write ? "InputReadOnly" : "Input";
  return nullptr;
}

}  // namespace daqsim
