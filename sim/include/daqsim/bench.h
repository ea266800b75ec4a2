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
// The bench is one per process, like the machine it stands for. A test or a
// tool sets it up itself (Reset() and the calls below); an application that
// uses the libraries' simulated builds and sets up nothing gets the bench its
// environment names, at the libraries' first call (ForLibraries()).
//
// Bench is a façade over a few parts, each of which can be read on its own:
//   Clock          time (clock.h)
//   PciBus         the functions on the bus, configuration mechanism #1, the
//                  decoded I/O windows, and BAR and interrupt allocation (pci_bus.h)
//   KernelObjects  the drivers' devices, handles, and the record of opens,
//                  requests and bad closes (kernel_objects.h)
//   PortTrace      the trace of port accesses and the faults (port_trace.h)
//   Heap           the process heap the libraries allocate from (heap.h)
// The façade adds what needs more than one part: a port access (granted by
// the kernel objects, decoded by the bus, recorded in the trace, taking time)
// and the boards with the bench's usual resources and drivers.
#ifndef DAQSIM_BENCH_H
#define DAQSIM_BENCH_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "daqsim/clock.h"
#include "daqsim/heap.h"
#include "daqsim/kernel_device.h"
#include "daqsim/kernel_objects.h"
#include "daqsim/multifunction_board.h"
#include "daqsim/pci.h"
#include "daqsim/pci_bus.h"
#include "daqsim/port_trace.h"
#include "daqsim/relay_board.h"
#include "daqsim/varno_driver.h"

namespace daqsim {

class Bench {
 public:
  // The bench the libraries of this process are wired to.
  static Bench& Instance();

  // Back to an empty machine: no PCI functions, "\\.\kelvra" installed and
  // accepting, no handles, clock at 0 in the deterministic mode, trace on and
  // empty, no faults, records unbounded. The bench counts as set up from then
  // on: the libraries use it as it is (see ForLibraries()).
  void Reset();

  // ---- The bench of an application's process ---------------------------------
  // The bench as the libraries' simulated builds reach it (their port
  // primitives and platform layer, and the C API in daqsim.h): Instance(),
  // which on the first call, when nobody has set it up with Reset(), sets
  // itself up from the environment with ConfigureForApplication():
  //   DAQSIM_SCENARIO  a scenario file (scenario.h; a path, relative to the
  //                    working folder or absolute); unset or empty: the
  //                    built-in bench (BuildBuiltInBench)
  //   DAQSIM_REPORT    a file the bench's report (WriteReport) is written to
  //                    when the process exits
  // Both DLLs (shared objects) of a process reach this one bench.
  static Bench& ForLibraries();
  // What the first use by a library does, with the scenario given here
  // (nullptr or empty: the built-in bench): Reset(), the scenario, then real-
  // time mode, the trace off (the counts go on) and the records bounded to
  // kApplicationRecordLimit. A scenario that cannot be loaded leaves a bench
  // whose drivers are all absent -- the libraries' first call answers that
  // the driver is missing -- and one line on standard error naming the file
  // and the problem; the result is then false.
  bool ConfigureForApplication(const char* scenario);
  static constexpr size_t kApplicationRecordLimit = 65536;
  // Whether someone set the bench up (Reset() or ConfigureForApplication()).
  bool configured() const { return configured_.load(std::memory_order_acquire); }
  // The scenario file in use ("" for the built-in bench or one set up in
  // code), and the problem that kept it from loading ("" when none).
  const std::string& scenarioFile() const { return scenarioFile_; }
  const std::string& scenarioError() const { return scenarioError_; }

  // The bench's state as a test of an application looks at it, as one JSON
  // object: port accesses, faults and the last of them, sleeps, handles,
  // heap, and every relay and multifunction board with its slot, number in
  // the drivers' scan order, outputs and inputs. Written by the C API
  // (DaqSimWriteReport) and at exit when DAQSIM_REPORT names a file.
  std::string Report();
  // Writes Report() to `path`; false when the file cannot be written.
  bool WriteReport(const std::string& path);

  // Holds the bench: no other thread reaches it until the lock goes. For
  // looking at several records at once while other threads use the bench.
  std::unique_lock<std::recursive_mutex> Hold() const { return std::unique_lock<std::recursive_mutex>(mutex_); }

  // ---- PCI bus -------------------------------------------------------------
  // Places a function on the bus; the bench owns it. Replaces what was there.
  template <class T>
  T& Add(PciLocation at, std::unique_ptr<T> function) {
    T& ref = *function;
    bus_.Place(at, std::move(function));
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
  bool Remove(PciLocation at) { return bus_.Remove(at); }
  PciFunction* At(PciLocation at) const { return bus_.At(at); }
  std::vector<PciFunction*> Functions() const { return bus_.Functions(); }  // in bus/device/function order
  // The functions a driver's scan finds, in the order it numbers them (buses
  // 0-9, devices 0-31, function 0), that `match` accepts; board n is element n.
  std::vector<PciBus::Slot> BoardsInScanOrder(const std::function<bool(const PciFunction&)>& match) const {
    return bus_.BoardsInScanOrder(match);
  }

  // Next free I/O window of `size` ports (a power of two), aligned to its size,
  // allocated downwards from 0xEFFF; for benches that place their own devices.
  uint16_t AllocateIo(uint32_t size) { return bus_.AllocateIo(size); }

  // ---- Multifunction boards and their interrupt driver (Dremor) -------------
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
  KernelDevice& PortAccessDriver() { return kernel_.PortAccessDriver(); }
  // Registers a named device; the bench owns it. Replaces one of the same name.
  KernelDevice& AddKernelDevice(std::unique_ptr<KernelDevice> device) { return kernel_.Add(std::move(device)); }
  KernelDevice* FindKernelDevice(const std::string& name) const { return kernel_.Find(name); }
  // True while a handle to "\\.\kelvra" is open: port I/O is allowed.
  bool PortAccessGranted() const { return kernel_.PortAccessGranted(); }
  unsigned OpenHandleCount() const { return kernel_.OpenHandleCount(); }
  // CreateFileA of a named device, CloseHandle and DeviceIoControl.
  uintptr_t OpenDevice(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                       uint32_t creationDisposition, uint32_t flagsAndAttributes) {
    return kernel_.Open(name, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
  }
  int32_t CloseHandle(uintptr_t handle) { return kernel_.Close(handle); }
  int32_t DeviceIoControl(uintptr_t handle, uint32_t code, void* in, uint32_t inSize, void* out,
                          uint32_t outSize, uint32_t* bytesReturned) {
    return kernel_.IoControl(handle, code, in, inSize, out, outSize, bytesReturned);
  }
  // Every CreateFile since the last ClearOpens() / Reset().
  const std::vector<OpenRecord>& opens() const { return kernel_.opens(); }
  void ClearOpens() { kernel_.ClearOpens(); }
  const std::vector<IoControlRecord>& ioControls() const { return kernel_.ioControls(); }
  void ClearIoControls() { kernel_.ClearIoControls(); }
  // CloseHandle calls on a handle that was not open.
  unsigned badCloses() const { return kernel_.badCloses(); }

  // ---- The host operating system ------------------------------------------------
  // What the libraries' platform layer finds. Windows (after Reset()): each
  // board has its interrupt driver, and holding "\\.\kelvra" allows every
  // port. Linux: there is no interrupt driver by design, and holding
  // "\\.\kelvra" (port access granted by the kernel) allows only the PCI
  // configuration ports 0xCF8-0xCFF and the ranges a library asks for with
  // AllowPorts (as ioperm does); an access outside them is a fault, which the
  // kernel would answer by stopping the process.
  enum class Host : uint8_t { kWindows, kLinux };
  void SetHost(Host host) { host_ = host; }
  Host host() const { return host_; }
  bool HasInterruptDriver() const { return host_ == Host::kWindows; }
  // A library asks for `count` ports from `first` (first + count <= 0x10000).
  // Returns false and allows nothing for a range beyond the port space.
  bool AllowPorts(uint16_t first, uint32_t count);
  // The ranges asked for since Reset(), in order.
  struct PortRange {
    uint16_t first;
    uint32_t count;
  };
  const std::vector<PortRange>& allowedRanges() const { return allowedRanges_; }
  // Whether an access of `width` bytes at `port` may be made now.
  bool PortUsable(uint16_t port, unsigned width) const;

  // ---- Port I/O, trace and faults ---------------------------------------------
  // One port access of `width` bytes (1, 2 or 4) by the application: decoded
  // by the bus when port access is granted (else a fault, reading ones),
  // recorded, and taking one I/O cycle of bench time.
  uint32_t PortRead(uint16_t port, unsigned width);
  void PortWrite(uint16_t port, unsigned width, uint32_t value);
  const std::vector<PortAccess>& trace() const { return trace_.trace(); }
  void ClearTrace() { trace_.Clear(); }
  // The trace is on after Reset(); long-running users turn it off.
  void SetTraceEnabled(bool on) { trace_.SetEnabled(on); }
  // Port accesses made while port access was not granted (or, on the Linux
  // host, outside the ports allowed).
  const std::vector<PortAccess>& faults() const { return trace_.faults(); }
  void ClearFaults() { trace_.ClearFaults(); }
  uint64_t portAccessCount() const { return trace_.count(); }
  // Faults since Reset(), kept or not, and the latest of them.
  uint64_t faultCount() const { return trace_.faultCount(); }
  std::optional<PortAccess> lastFault() const { return trace_.lastFault(); }
  // Bounds the records that grow with every call -- trace, faults, opens,
  // requests to the kernel and to each interrupt driver -- to `limit`
  // entries each (bounded_record.h), for a long run that must stay flat;
  // 0: no bound (after Reset()). The counts above are not affected.
  void SetRecordLimit(size_t limit);

  // ---- Time ------------------------------------------------------------------
  const Clock& clock() const { return clock_; }
  uint64_t NowNs() const { return clock_.NowNs(); }
  // Real-time mode (see clock.h): time follows the wall clock and Sleep
  // really sleeps. Reset() returns to the deterministic mode.
  void SetRealTime(bool on) { clock_.SetRealTime(on); }
  void Sleep(uint32_t milliseconds);
  // Sleep() calls seen, and the milliseconds they asked for in all.
  unsigned sleepCalls() const { return sleepCalls_; }
  uint64_t sleptMs() const { return sleptMs_; }

  // ---- Heap --------------------------------------------------------------------
  void* HeapAlloc(size_t bytes) { return heap_.Alloc(bytes); }
  void HeapFree(void* block) { heap_.Free(block); }
  const HeapStats& heap() const { return heap_.stats(); }
  // The next `n` allocations fail.
  void FailNextAllocations(unsigned n) { heap_.FailNext(n); }

 private:
  Bench();
  // Reset() but for the configured flag.
  void Clear();
  // Sets the bench up from the environment, once, unless someone set it up.
  void ConfigureFromEnvironment();
  // The bus's resources for a board: BAR0 the bridge's memory window, BAR1
  // its I/O ports, BAR2 the board's block of `blockSize` ports.
  BarSet AllocateBoardBars(uint32_t blockSize);
  void Record(AccessDir dir, uint16_t port, unsigned width, uint32_t value, const char* reg, bool faulted);

  // Declared in the order they are built: the boards on the bus read the
  // clock, and the interrupt driver's stand-ins hold boards of the bus.
  Clock clock_;
  PciBus bus_{clock_};
  KernelObjects kernel_;
  PortTrace trace_;
  Heap heap_;
  unsigned sleepCalls_ = 0;
  uint64_t sleptMs_ = 0;
  Host host_ = Host::kWindows;
  size_t recordLimit_ = 0;
  std::vector<PortRange> allowedRanges_;
  std::vector<bool> portAllowed_;  // one flag per port, on the Linux host
  mutable std::recursive_mutex mutex_;
  std::atomic<bool> configured_{false};
  std::string scenarioFile_;
  std::string scenarioError_;
};

}  // namespace daqsim

#endif
