// The simulated bench: a virtual PC with a PCI bus, the boards' registers and
// stand-ins for the kernel drivers, wired to the libraries' simulated builds.
//
// Typical use in a test or a user's own bench script:
//
//   daqsim::Bench& bench = daqsim::Bench::Instance();
//   bench.Reset();                                  // empty machine, drivers installed
//   bench.AddStockPcDevices();                      // host bridge, NIC, ... like a real PC
//   daqsim::RelayBoard& k = bench.AddRelayBoard(daqsim::RelayModel::kKorvel, {0, 5, 0});
//   k.SetInputs(0x1234);
//   ... call the library ...
//   EXPECT_EQ(k.outputs(), 0xA55A);
//   EXPECT_TRUE(bench.faults().empty());
//
// The bench is one per process, like the machine it stands for. It is not
// thread-safe: the libraries it serves make one call at a time.
#ifndef DAQSIM_BENCH_H
#define DAQSIM_BENCH_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "daqsim/clock.h"
#include "daqsim/kernel_device.h"
#include "daqsim/multifunction_board.h"
#include "daqsim/pci.h"
#include "daqsim/relay_board.h"
#include "daqsim/varno_driver.h"

namespace daqsim {

// The name of the port-access driver's device. Like every fact about the
// boards and drivers, the bench writes it down itself, independently of the
// libraries, so that tests catch a wrong name there.
inline constexpr const char* kPortAccessDeviceName = "\\\\.\\kelvra";

// Handle value a failed open returns (INVALID_HANDLE_VALUE).
inline constexpr uintptr_t kInvalidHandle = ~uintptr_t(0);

enum class AccessDir : uint8_t { kRead, kWrite };

// One port access as the CPU made it.
struct PortAccess {
  AccessDir dir;
  uint8_t width;     // bytes: 1, 2 or 4
  uint16_t port;
  uint32_t value;    // written, or returned to the CPU
  uint64_t timeNs;   // virtual time of the access
  const char* reg;   // register name where a device claims the port, else nullptr
  bool faulted;      // made without port access granted: on a real machine the
                     // instruction would have raised a privileged-instruction
                     // exception and killed the application
};

// An open of a named device, with the arguments it was made with.
struct OpenRecord {
  std::string name;
  uint32_t desiredAccess;
  uint32_t shareMode;
  uint32_t creationDisposition;
  uint32_t flagsAndAttributes;
  uintptr_t result;  // the handle, or kInvalidHandle
};

// A device I/O-control request as a library sent it.
struct IoControlRecord {
  uintptr_t handle;
  std::string device;  // empty when the handle was not open
  uint32_t code;
  uint32_t inSize;
  uint32_t outSize;
  bool ok;
};

struct HeapStats {
  uint64_t allocations = 0;  // successful
  uint64_t releases = 0;
  uint64_t refused = 0;      // allocations made to fail
  uint64_t outstanding() const { return allocations - releases; }
};

class Bench {
 public:
  // The bench the libraries of this process are wired to.
  static Bench& Instance();

  // Back to an empty machine: no PCI functions, "\\.\kelvra" installed and
  // accepting, no handles, clock at 0, trace on and empty, no faults.
  void Reset();

  // ---- PCI bus -------------------------------------------------------------
  // Places a function on the bus; the bench owns it. Replaces what was there.
  template <class T>
  T& Add(PciLocation at, std::unique_ptr<T> function) {
    T& ref = *function;
    Place(at, std::move(function));
    return ref;
  }
  // A relay board with the bench's usual resources: BAR0 a 128-byte memory
  // window, BAR1 the bridge's 128 I/O ports, BAR2 the 16-port board block,
  // allocated from the free I/O space, and an interrupt line.
  RelayBoard& AddRelayBoard(RelayModel model, PciLocation at);
  // The same with BARs of the caller's choice.
  RelayBoard& AddRelayBoard(RelayModel model, PciLocation at, const BarSet& bars, uint8_t irq = 11);
  // What a PC has besides the boards: host bridge, ISA bridge with IDE and USB
  // functions (a multi-function device), VGA, a network card, a PCI-to-PCI
  // bridge. They sit on bus 0 at devices the boards are not expected to use
  // (0, 1, 2, 3 and 30); existing functions there are replaced.
  void AddStockPcDevices();
  bool Remove(PciLocation at);
  PciFunction* At(PciLocation at) const;
  std::vector<PciFunction*> Functions() const;  // in bus/device/function order

  // Next free I/O window of `size` ports (a power of two), aligned to its size,
  // allocated downwards from 0xEFFF; for benches that place their own devices.
  uint16_t AllocateIo(uint32_t size);

  // ---- Multifunction boards and their interrupt driver (Dremor) -------------
  // Defined in multifunction_board.cpp and varno_driver.cpp.
  //
  // The board (multifunction_board.h) carries an 8254 and an A/D converter
  // whose state follows the bench clock: in the deterministic mode, 1 us per
  // port access and the asked milliseconds per Sleep, nothing from the wall
  // clock, so a pacer block or a settling wait comes out the same on every
  // run. Set up a board through its own members: SetSignal(channel, Signal),
  // SetDigitalInputs / digitalOutputs(), SetCounterClockHz (default 4 MHz),
  // the faults SetConverterNeverFinishes[At], SetEocStuckHigh and
  // SetCounterClockStopped; look inside with timer(), converter() and
  // conversionLog().
  //
  // A multifunction board with the bench's usual resources: BAR0 a 128-byte
  // memory window, BAR1 the bridge's 128 I/O ports, BAR2 the 64-port board
  // block, allocated from the free I/O space, interrupt pin A and a line.
  MultifunctionBoard& AddMultifunctionBoard(PciLocation at);
  // The same with BARs, interrupt line and pin of the caller's choice.
  MultifunctionBoard& AddMultifunctionBoard(PciLocation at, const BarSet& bars, uint8_t irq,
                                            uint8_t pin = 1);
  // Functions with the board's identity (0x1234:0x5C2A) in the order a
  // driver's scan numbers them: buses 0-9 ascending, then device, function 0
  // only. Board n is element n.
  std::vector<PciFunction*> VarnoBoardsInScanOrder() const;
  // (Re)creates the interrupt-driver stand-ins "\\.\VARNO0".."\\.\VARNO3":
  // device n is installed when board n (above) is present, absent otherwise.
  // Call it after placing the boards and before the library opens the
  // devices (replaced devices lose their handles). Returns the number
  // installed. Reset() removes them; a bench without this call has none.
  unsigned InstallVarnoDevices();
  // The stand-in of board n, or nullptr when InstallVarnoDevices() has not run.
  VarnoDriver* VarnoDevice(unsigned board) const;

  // ---- Interrupt-driven acquisition (Dremor) ----------------------------------
  // The board raises its interrupt for every pacer conversion in interrupt
  // mode (AdModeControl bit 2) while the bridge interrupt is on (0x43 at
  // InterruptControl); see multifunction_board.h. VarnoDevice(n) binds the
  // board named by IOCTL_VARNO_IRQ_RESOURCES (bases and line) and services
  // it: interrupt count, a FIFO of VarnoDriver::kDefaultCapacity samples,
  // overruns, STOP; see varno_driver.h. Nothing ticks: every request brings
  // the board up to NowNs(), so samples arrive as bench time passes (Sleep in
  // the deterministic mode, the wall clock in real-time mode). The kernel's
  // accesses are not in the trace and take no bench time.
  // Faults: VarnoDevice(n)->FailRequest(code) (each request, e.g. the first
  // or the second of VARNO_InstallIrq) or FailAllRequests(); ->LoseInterrupts
  // (every n-th interrupt lost); ->SetCapacity (a small FIFO, for overruns);
  // FailNextAllocations(1) (the temporary buffer of VARNO_GetFloatBuffer).
  // ->InjectSamples(words) puts exact words in the FIFO as serviced
  // interrupts.

  // ---- Kernel devices ------------------------------------------------------
  KernelDevice& PortAccessDriver() { return *portAccess_; }
  // Registers a named device; the bench owns it. Replaces one of the same name.
  KernelDevice& AddKernelDevice(std::unique_ptr<KernelDevice> device);
  KernelDevice* FindKernelDevice(const std::string& name) const;
  // True while a handle to "\\.\kelvra" is open: port I/O is allowed.
  bool PortAccessGranted() const { return portAccess_->openHandles() > 0; }
  unsigned OpenHandleCount() const { return unsigned(handles_.size()); }
  // Every CreateFile since the last ClearOpens() / Reset().
  const std::vector<OpenRecord>& opens() const { return opens_; }
  void ClearOpens() { opens_.clear(); }
  const std::vector<IoControlRecord>& ioControls() const { return ioControls_; }
  void ClearIoControls() { ioControls_.clear(); }
  // CloseHandle calls on a handle that was not open.
  unsigned badCloses() const { return badCloses_; }

  // ---- Trace and faults -----------------------------------------------------
  const std::vector<PortAccess>& trace() const { return trace_; }
  void ClearTrace() { trace_.clear(); }
  // The trace is on after Reset(); long-running users turn it off.
  void SetTraceEnabled(bool on) { traceEnabled_ = on; }
  // Port accesses made while port access was not granted.
  const std::vector<PortAccess>& faults() const { return faults_; }
  void ClearFaults() { faults_.clear(); }
  uint64_t portAccessCount() const { return portAccessCount_; }

  // ---- Time ------------------------------------------------------------------
  const Clock& clock() const { return clock_; }
  uint64_t NowNs() const { return clock_.NowNs(); }
  // Real-time mode (see clock.h): time follows the wall clock and Sleep
  // really sleeps. Reset() returns to the deterministic mode.
  void SetRealTime(bool on) { clock_.SetRealTime(on); }
  // Sleep() calls seen, and the milliseconds they asked for in all.
  unsigned sleepCalls() const { return sleepCalls_; }
  uint64_t sleptMs() const { return sleptMs_; }

  // ---- Heap --------------------------------------------------------------------
  const HeapStats& heap() const { return heap_; }
  // The next `n` allocations fail.
  void FailNextAllocations(unsigned n) { failAllocations_ = n; }

  // ---- The machine interface (what the libraries' simulated backend calls) ----
  uint32_t PortRead(uint16_t port, unsigned width);
  void PortWrite(uint16_t port, unsigned width, uint32_t value);
  // CreateFileA of a named device.
  uintptr_t OpenDevice(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                       uint32_t creationDisposition, uint32_t flagsAndAttributes);
  int32_t CloseHandle(uintptr_t handle);
  int32_t DeviceIoControl(uintptr_t handle, uint32_t code, void* in, uint32_t inSize, void* out,
                          uint32_t outSize, uint32_t* bytesReturned);
  void Sleep(uint32_t milliseconds);
  void* HeapAlloc(size_t bytes);
  void HeapFree(void* block);

 private:
  Bench();
  void Place(PciLocation at, std::unique_ptr<PciFunction> function);
  void UpdateMultiFunctionBits();
  uint32_t ConfigRead(uint16_t port, unsigned width) const;
  void ConfigWrite(uint16_t port, unsigned width, uint32_t value);
  // The function and BAR that decode `port`, or nullptr.
  PciFunction* DecodeIo(uint16_t port, int* bar, uint32_t* offset) const;
  void Record(AccessDir dir, uint16_t port, unsigned width, uint32_t value, const char* reg,
              bool faulted);

  Clock clock_;
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
  uint32_t nextIoTop_ = 0xF000;
  uint32_t nextMemory_ = 0xFEBF0000;
  uint8_t nextIrq_ = 0;

  KernelDevice* portAccess_ = nullptr;
  std::map<std::string, std::unique_ptr<KernelDevice>> devices_;  // by lower-case name
  std::map<uintptr_t, KernelDevice*> handles_;
  std::vector<OpenRecord> opens_;
  std::vector<IoControlRecord> ioControls_;
  unsigned badCloses_ = 0;

  bool traceEnabled_ = true;
  std::vector<PortAccess> trace_;
  std::vector<PortAccess> faults_;
  uint64_t portAccessCount_ = 0;

  unsigned sleepCalls_ = 0;
  uint64_t sleptMs_ = 0;
  HeapStats heap_;
  unsigned failAllocations_ = 0;
};

}  // namespace daqsim

#endif
