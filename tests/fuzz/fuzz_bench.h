// The parts of a random bench both libraries' fuzz targets use: slots on the
// bus (scanned or not), I/O windows (the firmware's, hand-picked, or register
// values with bits above 15), stock PC devices, and the kernel devices'
// states (installed, absent, refusing, exclusive, held by another program).
#ifndef DAQ_TESTS_FUZZ_FUZZ_BENCH_H
#define DAQ_TESTS_FUZZ_FUZZ_BENCH_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "daqsim/bench.h"
#include "fuzz_report.h"
#include "fuzz_source.h"

namespace daqfuzz {

// The host: Linux in `linuxPercent` of the inputs, Windows otherwise; and in
// half of them the stock PC devices on the bus.
void RandomHost(FuzzSource& in, daqsim::Bench& bench, unsigned linuxPercent, CallLog& log);

// A slot of the bus: mostly where a scan looks (buses 0-9, function 0), now
// and then where it does not (bus 10-12, functions 1-7).
daqsim::PciLocation RandomSlot(FuzzSource& in);

// The BARs of a board: BAR0 a memory window, BAR1 the bridge's 128 ports,
// BAR2 the board block of `blockSize` ports; the windows either from the
// bench's allocator or anywhere in the port space, aligned to their size.
daqsim::BarSet RandomBoardBars(FuzzSource& in, daqsim::Bench& bench, uint32_t blockSize);

// Sometimes overwrites a BAR or the interrupt register with a raw value as
// odd firmware might leave it (bits above 15, the I/O bit clear, ones).
void MaybeOddConfig(FuzzSource& in, daqsim::PciFunction& fn, CallLog& log);

// Handles that another program holds on the bench's devices: an exclusive
// device it holds cannot be opened by the library.
class ForeignHandles {
 public:
  void Open(daqsim::Bench& bench, const std::string& device);
  void CloseOne(daqsim::Bench& bench, const std::string& device);
  unsigned On(const std::string& device) const;
  unsigned total() const;
  void Forget() { handles_.clear(); }

 private:
  std::map<std::string, std::vector<uintptr_t>> handles_;
};

// Changes one kernel device at random: installed or absent, refusing opens
// or not, exclusive or not, another program opening or closing a handle.
void ChangeKernelDevice(FuzzSource& in, daqsim::Bench& bench, daqsim::KernelDevice& device,
                        ForeignHandles& foreign, CallLog& log);

// Whether an open of `device` by the library would succeed now.
bool OpenWouldSucceed(const daqsim::KernelDevice* device);

// The port accesses of the bench's trace as one line each, for the log.
std::string DescribeAccess(const daqsim::PortAccess& a);

}  // namespace daqfuzz

#endif
