// The VARNO multifunction board (PCI 0x1234:0x5C2A). Register map:
// dremor/varno_board_map.h.
//
//   BAR0  memory window of the bridge (not decoded here)
//   BAR1  bridge block, 128 I/O ports: InterruptControl at +0x4C
//   BAR2  board block, 64 I/O ports: 8254 timer, A/D control and data, digital port
//   0x3C  interrupt line and pin
//
// Built like a device model of a machine emulator: all the board holds is in
// one state record (MultifunctionBoardState), an access is decoded to a
// register through one table, and each register has its read and write
// handler. Later models (the 8254, the A/D converter) replace the handlers of
// their registers and add to the state; decoding, naming and bookkeeping stay.
//
// Decoding: an access belongs to a register only when it starts at the
// register's offset in the direction the register serves (ChannelSelect is
// written and AdStatus read at the same port). An 8-bit register takes the low
// byte of a wider access and a wider read returns ones in the lanes above it;
// a 16-bit register takes the low byte of an 8-bit access. Any other access is
// "unclaimed": reads float high, writes vanish, the trace names no register,
// and unclaimedAccesses() counts it so tests can prove software touches only
// real registers.
//
// Not modelled yet, plain latches for now: the 8254 (a counter register reads
// back the last byte written to it; CounterControl only stores the word) and
// the A/D converter (AdStatus and AdData read whatever the bench set: 0x01,
// conversion done, and 0x0800, mid-scale, at power-up; SoftwareTrigger only
// counts writes).
#ifndef DAQSIM_MULTIFUNCTION_BOARD_H
#define DAQSIM_MULTIFUNCTION_BOARD_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "daqsim/pci.h"

namespace daqsim {

// The board's registers, for looking at them by name.
enum class VarnoRegister : uint8_t {
  kCounter0,
  kCounter1,
  kCounter2,
  kCounterControl,
  kChannelSelect,
  kAdStatus,
  kGainControl,
  kAdModeControl,
  kSoftwareTrigger,
  kDigitalIo,
  kAdData,
  kInterruptControl,
};
inline constexpr size_t kVarnoRegisterCount = 12;

// Everything the board holds.
struct MultifunctionBoardState {
  // Bookkeeping of every register: the last value written to it (0 before the
  // first write), and how often it was written and read.
  std::array<uint32_t, kVarnoRegisterCount> lastWritten{};
  std::array<uint64_t, kVarnoRegisterCount> writes{};
  std::array<uint64_t, kVarnoRegisterCount> reads{};
  uint64_t unclaimed = 0;

  // 8254, as latches until it is modelled.
  std::array<uint8_t, 3> counterLatch{};  // last byte written to counter 0, 1, 2
  uint8_t counterControl = 0;             // last control word

  // A/D section, as latches until it is modelled.
  uint8_t channel = 0;
  uint8_t gain = 0;
  uint8_t adMode = 0;
  uint64_t triggers = 0;       // writes to SoftwareTrigger
  uint8_t adStatus = 0x01;     // what AdStatus reads
  uint16_t adData = 0x0800;    // what AdData reads

  // Digital port: the output latch, and the pattern on the input connector.
  uint16_t digitalOutputs = 0;
  uint16_t digitalInputs = 0;

  // Bridge.
  uint8_t interruptControl = 0;  // 0x43: board interrupt enabled
};

class MultifunctionBoard : public PciFunction {
 public:
  MultifunctionBoard(const BarSet& bars, uint8_t interruptLine, uint8_t interruptPin = 1);

  static PciIdentity Identity();
  // "Counter0", "ChannelSelect", "AdStatus", ..., as the trace shows them.
  static const char* Name(VarnoRegister reg);

  const MultifunctionBoardState& state() const { return s_; }
  uint32_t lastWritten(VarnoRegister reg) const { return s_.lastWritten[Index(reg)]; }
  uint64_t writeCount(VarnoRegister reg) const { return s_.writes[Index(reg)]; }
  uint64_t readCount(VarnoRegister reg) const { return s_.reads[Index(reg)]; }
  uint64_t unclaimedAccesses() const { return s_.unclaimed; }

  uint16_t digitalOutputs() const { return s_.digitalOutputs; }
  void SetDigitalInputs(uint16_t pattern) { s_.digitalInputs = pattern; }
  void SetAdStatus(uint8_t value) { s_.adStatus = value; }
  void SetAdData(uint16_t value) { s_.adData = value; }
  uint8_t interruptControl() const { return s_.interruptControl; }

  // Bases as currently programmed, and the port of a register.
  uint16_t BridgeBase() const;
  uint16_t IoBase() const;
  uint16_t Port(VarnoRegister reg) const;

  uint32_t IoRead(int bar, uint32_t offset, unsigned width) override;
  void IoWrite(int bar, uint32_t offset, unsigned width, uint32_t value) override;
  const char* RegisterName(int bar, uint32_t offset, bool write) const override;

 protected:
  // The register handlers. `value` is already cut to the register's width;
  // a read handler returns the register's contents (its width).
  uint32_t ReadRegister(VarnoRegister reg);
  void WriteRegister(VarnoRegister reg, unsigned width, uint32_t value);

  MultifunctionBoardState s_;

 private:
  static size_t Index(VarnoRegister reg) { return size_t(reg); }
};

}  // namespace daqsim

#endif
