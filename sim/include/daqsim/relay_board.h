// The KORVEL (16-bit) and LUMAR (8-bit) relay-output / digital-input boards,
// PCI 0x1234:0x5C21 and 0x1234:0x5C22.
//
//   BAR0  memory window of the bridge (not decoded here)
//   BAR1  the bridge's 128 I/O ports (named "BridgeIo" in the trace, not modelled)
//   BAR2  board block, 16 ports: relay outputs and inputs, KORVEL at +0 and +2
//         (16-bit), LUMAR at +0 and +1 (8-bit)
//
// The bench describes them from the boards' documentation, independently of
// the library's register map (korvel/relay_board_map.h), so that tests catch
// a wrong entry there.
#ifndef DAQSIM_RELAY_BOARD_H
#define DAQSIM_RELAY_BOARD_H

#include <cstdint>

#include "daqsim/pci.h"

namespace daqsim {

enum class RelayModel : uint8_t { kKorvel, kLumar };

class RelayBoard : public PciFunction {
 public:
  RelayBoard(RelayModel model, const BarSet& bars, uint8_t interruptLine);

  RelayModel model() const { return model_; }
  // Number of relays and of inputs: 16 (KORVEL) or 8 (LUMAR).
  unsigned width() const { return model_ == RelayModel::kKorvel ? 16 : 8; }

  // Relay states (bit set = relay energised), as last written by software.
  uint16_t outputs() const { return outputs_; }
  // Writes that reached the output register since power-up.
  uint64_t outputWrites() const { return outputWrites_; }
  // The pattern on the input connector; bits above the board's width are dropped.
  void SetInputs(uint16_t pattern);
  uint16_t inputs() const { return inputs_; }

  // Port of a register of the board block (BAR 2) as currently programmed.
  uint16_t OutputPort() const;
  uint16_t InputPort() const;

  uint32_t IoRead(int bar, uint32_t offset, unsigned width) override;
  void IoWrite(int bar, uint32_t offset, unsigned width, uint32_t value) override;
  const char* RegisterName(int bar, uint32_t offset, bool write) const override;

  // The PCI identity of a model.
  static PciIdentity Identity(RelayModel model);

 private:
  // The block decodes byte lanes: a wider access is the bytes at offset,
  // offset + 1, ... in little-endian order.
  int ReadByte(uint32_t offset) const;  // -1 when nothing answers
  void WriteByte(uint32_t offset, uint8_t value);

  RelayModel model_;
  uint16_t outputs_ = 0;
  uint16_t inputs_ = 0;
  uint64_t outputWrites_ = 0;
};

}  // namespace daqsim

#endif
