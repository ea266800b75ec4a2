// PCI functions on the bench's bus: configuration space and, for functions that
// decode I/O space, the handlers of the registers behind their I/O BARs.
#ifndef DAQSIM_PCI_H
#define DAQSIM_PCI_H

#include <array>
#include <cstdint>

#include "daqsim/clock.h"

namespace daqsim {

// Where a function sits: bus 0-255, device 0-31, function 0-7.
struct PciLocation {
  uint8_t bus = 0;
  uint8_t device = 0;
  uint8_t function = 0;

  uint32_t Key() const { return uint32_t(bus) << 8 | uint32_t(device & 0x1F) << 3 | (function & 7); }
  static PciLocation FromKey(uint32_t key) {
    return PciLocation{uint8_t(key >> 8), uint8_t((key >> 3) & 0x1F), uint8_t(key & 7)};
  }
  friend bool operator==(const PciLocation& a, const PciLocation& b) { return a.Key() == b.Key(); }
};

// A base address register as the firmware programmed it.
struct Bar {
  enum class Kind : uint8_t { kUnused, kIo, kMemory };
  Kind kind = Kind::kUnused;
  uint32_t base = 0;  // I/O: port address (above 0xFFFF it decodes nothing); memory: address
  uint32_t size = 0;  // a power of two: at least 4 for I/O, 16 for memory

  static Bar Io(uint32_t base, uint32_t size) { return Bar{Kind::kIo, base, size}; }
  static Bar Memory(uint32_t base, uint32_t size) { return Bar{Kind::kMemory, base, size}; }
};

using BarSet = std::array<Bar, 6>;

struct PciIdentity {
  uint16_t vendorId = 0xFFFF;
  uint16_t deviceId = 0xFFFF;
  uint32_t classCode = 0;  // base class << 16 | subclass << 8 | programming interface
  uint8_t revision = 1;
  uint16_t subsystemVendorId = 0;
  uint16_t subsystemId = 0;
};

// One function's 256-byte configuration space with a type-0 header.
// Writable through configuration writes: command, cache line size, latency
// timer, the BARs (with the usual size masking, so firmware-style sizing
// works) and the interrupt line. Everything else is read-only.
class PciFunction {
 public:
  PciFunction(const PciIdentity& identity, const BarSet& bars, uint8_t interruptLine,
              uint8_t interruptPin);
  virtual ~PciFunction() = default;
  PciFunction(const PciFunction&) = delete;
  PciFunction& operator=(const PciFunction&) = delete;

  const PciIdentity& identity() const { return identity_; }

  // A BAR with its currently programmed base.
  Bar bar(int index) const;
  uint8_t interruptLine() const { return config_[0x3C]; }
  uint8_t interruptPin() const { return config_[0x3D]; }

  uint8_t ConfigByte(unsigned offset) const { return config_[offset & 0xFF]; }
  uint32_t ConfigDword(unsigned offset) const;
  // A configuration write as software makes it (read-only bits kept).
  void ConfigWrite(unsigned offset, unsigned width, uint32_t value);
  // Sets a dword as the hardware would report it, bypassing write masks: for
  // benches that need an odd register value (a BAR with bits above 15 set...).
  void PokeConfigDword(unsigned offset, uint32_t value);
  void SetMultiFunction(bool on);

  // Register access behind I/O BAR `bar`, `offset` from its base. The default
  // is a function whose I/O space is not modelled: reads float high, writes
  // vanish.
  virtual uint32_t IoRead(int bar, uint32_t offset, unsigned width);
  virtual void IoWrite(int bar, uint32_t offset, unsigned width, uint32_t value);
  // Name of the register at `offset` of `bar`, for the trace; nullptr if none.
  virtual const char* RegisterName(int bar, uint32_t offset, bool write) const;

  // The bus attaches the bench's clock when the function is placed on it, and
  // a counter that the function bumps whenever a BAR changes, so that the
  // bus knows to rebuild its table of decoded I/O windows.
  void AttachClock(const Clock* clock) { clock_ = clock; }
  void AttachDecodeGeneration(uint64_t* generation) { decodeGeneration_ = generation; }

 protected:
  uint64_t NowNs() const { return clock_ ? clock_->NowNs() : 0; }

 private:
  void StoreBar(int index, uint32_t raw);

  PciIdentity identity_;
  BarSet bars_;  // kinds and sizes; bases live in config_
  std::array<uint8_t, 256> config_{};
  const Clock* clock_ = nullptr;
  uint64_t* decodeGeneration_ = nullptr;
};

}  // namespace daqsim

#endif
