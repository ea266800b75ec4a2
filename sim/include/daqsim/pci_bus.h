// The bench's PCI bus: the functions placed on it, configuration mechanism #1
// (0xCF8 / 0xCFC), the I/O windows the functions' BARs decode, and the
// firmware's part of handing out I/O windows, memory windows and interrupt
// lines to the boards.
//
// A read is one step (the value, and the name of the register read for the
// trace); a write is two, so that the bench can record it in between: where
// it lands and the register's name (Decode), then the data handed over
// (Write), at the end of the I/O cycle.
#ifndef DAQSIM_PCI_BUS_H
#define DAQSIM_PCI_BUS_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "daqsim/clock.h"
#include "daqsim/pci.h"

namespace daqsim {

// Where a port access lands.
struct PortTarget {
  enum class Kind : uint8_t { kNothing, kConfigAddress, kConfigData, kFunction };
  Kind kind = Kind::kNothing;
  PciFunction* function = nullptr;  // kFunction: the function, its BAR and the offset in it
  int bar = 0;
  uint32_t offset = 0;
  const char* reg = nullptr;  // the register's name where one claims the access, else nullptr
};

// No room is left in the I/O space for a window.
struct IoSpaceFull : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class PciBus {
 public:
  // The functions placed later read `clock`, which must outlive the bus.
  explicit PciBus(const Clock& clock) : clock_(clock) {}
  PciBus(const PciBus&) = delete;
  PciBus& operator=(const PciBus&) = delete;

  // No functions, configuration address 0, the allocators back at their start.
  void Reset();

  // ---- Functions --------------------------------------------------------------
  // Places a function; the bus owns it. Replaces what was there.
  void Place(PciLocation at, std::unique_ptr<PciFunction> function);
  bool Remove(PciLocation at);
  PciFunction* At(PciLocation at) const;
  std::vector<PciFunction*> Functions() const;  // in bus/device/function order
  // The same with their locations.
  using Slot = std::pair<PciLocation, PciFunction*>;
  std::vector<Slot> Slots() const;

  // The functions a driver's scan finds and numbers, in its order: buses
  // 0-9 ascending, then devices 0-31, function 0 only; of those the ones
  // `match` accepts. Board n is element n.
  std::vector<Slot> BoardsInScanOrder(const std::function<bool(const PciFunction&)>& match) const;

  // ---- Resources, as the firmware hands them out -------------------------------
  // Next free I/O window of `size` ports (a power of two), aligned to its size,
  // allocated downwards from 0xEFFF. The ports below 0x1000 belong to the
  // legacy devices of the PC: a window that would reach below throws
  // IoSpaceFull (and allocates nothing). Boards with the bench's usual
  // windows take 256 ports each, so the space holds kMaxBoardWindows boards.
  uint16_t AllocateIo(uint32_t size);
  static constexpr uint32_t kIoTop = 0xF000;
  static constexpr uint32_t kIoBottom = 0x1000;
  static constexpr unsigned kMaxBoardWindows = (kIoTop - kIoBottom) / 256;
  // Next memory window of at most 4 KiB: one page each, downwards from
  // 0xFEBF0000.
  uint32_t AllocateMemoryPage();
  // Interrupt line for the next board: 11, 10, 5, 9, then round again.
  uint8_t NextInterruptLine();

  // ---- Port access ----------------------------------------------------------------
  // The value read (floating lines read ones); *reg the register's name, or
  // nullptr where no register claims the access.
  uint32_t Read(uint16_t port, unsigned width, const char** reg);
  PortTarget Decode(uint16_t port, unsigned width, bool write) const;
  void Write(const PortTarget& target, uint16_t port, unsigned width, uint32_t value);

 private:
  void UpdateMultiFunctionBit(PciLocation changed);
  uint32_t ConfigRead(uint16_t port, unsigned width) const;
  void ConfigWrite(uint16_t port, unsigned width, uint32_t value);
  PciFunction* ConfigTarget() const;  // the function the configuration address selects
  // The function and BAR that decode `port`, or nullptr.
  PciFunction* DecodeIo(uint16_t port, int* bar, uint32_t* offset) const;

  const Clock& clock_;
  std::map<uint32_t, std::unique_ptr<PciFunction>> functions_;  // by PciLocation::Key()
  // The I/O windows the functions decode, rebuilt when a BAR or the set of
  // functions changed (decodeGeneration_ moves on then).
  struct IoWindow {
    uint32_t base, size;
    PciFunction* function;
    int bar;
  };
  mutable std::vector<IoWindow> ioWindows_;
  uint64_t decodeGeneration_ = 1;
  mutable uint64_t ioWindowsGeneration_ = 0;
  uint32_t configAddress_ = 0;

  static constexpr uint32_t kMemoryTop = 0xFEBF0000;
  uint32_t nextIoTop_ = kIoTop;
  uint32_t nextMemory_ = kMemoryTop;
  uint8_t nextIrq_ = 0;
};

}  // namespace daqsim

#endif
