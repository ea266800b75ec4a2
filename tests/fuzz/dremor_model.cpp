// The Dremor model: what dremor.h promises, written as executable checks.
//
// One input's bytes become a bench (multifunction boards at random slots,
// scanned or not, with odd configuration registers now and then; relay
// boards and stock devices around them; the port-access driver and the
// interrupt drivers installed, absent, refusing, exclusive or held by another
// program; requests and allocations failing; converter faults; signals) and a
// sequence of steps: calls of all 25 exports with hostile arguments (garbage
// above each argument's width, board numbers out of range, codes without a
// range row, counts 0, huge and 2^31), and changes of the bench between them.
//
// The model keeps the library's state as the header describes it and
// predicts every status and every output from it. It reads the bench (what is
// on the bus, which devices would open, what a driver holds) the way the
// header's words refer to the machine, and never the library's tables or
// code. After every step:
//  - no port access without permission (the bench's faults), none while the
//    model says "\\.\kelvra" is not held, and every access within the PCI
//    configuration ports or the two blocks of the active board (as the bench's
//    registers gave them when it was selected);
//  - a board is reset (or parked) before it is next driven when that was owed;
//  - the handles open on every device are the model's (no leak), no bad close;
//  - no heap block left;
//  - outputs untouched on every failure;
//  - the interrupt driver's words, fetched raw or in volts, are the board's
//    conversion log in order: each pacer conversion in interrupt mode that
//    finished while the bridge interrupt was on and an armed driver served
//    the board, plus the words injected into the driver.
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "daqsim/bench.h"
#include "dremor.h"
#include "fuzz_bench.h"
#include "fuzz_report.h"
#include "fuzz_source.h"
#include "fuzz_targets.h"
#include "library_api.h"
#include "library_run.h"
#include "slot_cast.h"
#include "varno_ioctl.h"
#include "varno_ranges.h"

#if !defined(DAQ_DREMOR_FILE)
#error "the build defines DAQ_DREMOR_FILE"
#endif

namespace daqfuzz {
namespace {

DAQTEST_DEFINE_EXPORTS(DremorExports, DREMOR_EXPORT_LIST);
using DremorApi = daqtest::LibraryApi<DremorExports>;

using daqsim::AccessDir;
using daqsim::Bench;
using daqsim::MultifunctionBoard;
using daqsim::PciLocation;
using daqsim::PortAccess;
using daqsim::VarnoDriver;
using daqtest::Bits;
using daqtest::SlotCast;

// ---- Facts of the board and the library, written down here -------------------------
// The board's identity and registers as the model knows them (independently
// of the library's register map, like the bench and the tests).
constexpr uint16_t kVendor = 0x1234, kVarnoDevice = 0x5C2A;
constexpr uint16_t kCounter0 = 0x00, kCounter1 = 0x04, kCounter2 = 0x08, kCounterControl = 0x0C;
constexpr uint16_t kChannelSelect = 0x10, kAdStatus = 0x10, kGainControl = 0x14, kAdModeControl = 0x18;
constexpr uint16_t kSoftwareTrigger = 0x1C, kDigitalIo = 0x20, kAdData = 0x30;
constexpr uint16_t kInterruptControl = 0x4C;  // bridge block
constexpr uint32_t kBridgeBlock = 0x80, kBoardBlock = 0x40;
constexpr unsigned kMaxBoards = 4;
constexpr uint16_t kNoDriverVersion = 0x1234;
constexpr uint16_t kDllVersion = 0x0300;

// What an output holds before a call; on every failure it must still hold it.
constexpr uint16_t kCanary16 = 0xBEEF;
constexpr uint32_t kCanary32 = 0xDEADBEEFu;
constexpr uint32_t kCanaryFloat = 0x7F7F7F7Fu;

// The exports with every narrow argument a whole 32-bit slot.
using OneSlot = uint32_t (*)(uint32_t);
using TwoSlotsVoid = void (*)(uint32_t, uint32_t);
using TwoSlots = uint32_t (*)(uint32_t, uint32_t);
using ThreeSlots = uint32_t (*)(uint32_t, uint32_t, uint32_t);
using GetConfigSlots = uint32_t (*)(uint32_t, uint16_t*, uint16_t*, uint16_t*);
using PointerSlot = uint32_t (*)(void*);
using PointerCountSlots = uint32_t (*)(void*, uint32_t);
using PointerCountDivisorSlots = uint32_t (*)(void*, uint32_t, uint32_t);
using CountPointerSlots = uint32_t (*)(uint32_t, void*);
using InstallSlots = uint32_t (*)(void*, uint32_t);

// One row of the board table: BAR1 and BAR2 AND 0xFFFE, the interrupt line.
struct Row {
  uint16_t bridge = 0, io = 0, irq = 0;
};

// The volts of a 12-bit code under configuration code `config`:
// (code - 2048) / 2048 x range, formed in double precision and rounded once.
float Volts(uint16_t code12, uint16_t config) {
  const float range = daqtest::ExpectedFullScale(config);
  return float((double(code12) - 2048.0) / 2048.0 * double(range));
}

bool SameVolts(float got, float want) {
  if (std::isnan(want)) return std::isnan(got) && (Bits(got) & 0x00400000u) != 0;  // a quiet NaN
  return Bits(got) == Bits(want);
}

// A set of statuses the contract allows for a call.
struct Allowed {
  std::vector<uint16_t> statuses;
  Allowed(std::initializer_list<uint16_t> s) : statuses(s) {}
  bool Has(uint16_t s) const {
    for (uint16_t x : statuses) {
      if (x == s) return true;
    }
    return false;
  }
  std::string Text() const {
    std::string t;
    for (uint16_t x : statuses) t += (t.empty() ? "" : " or ") + std::to_string(x);
    return t;
  }
};

// An 8-bit write as the model expects it.
struct Write8 {
  uint16_t port;
  uint8_t value;
};

// ---- The interrupt driver as the model sees it --------------------------------------
// The words a device holds, and its interrupt count, derived from the
// boards' conversion logs and the model's record of when each device served
// which board. `exact` falls when something the model cannot follow happened
// (a log that overflowed); the device's words are not checked then until it
// is armed anew.
struct DeviceModel {
  std::deque<uint16_t> words;
  uint32_t count = 0;
  bool exact = true;
  std::set<uint32_t> failing;  // request codes made to fail
  bool failAll = false;
  uint16_t version = VarnoDriver::kVersion;
  bool Fails(uint32_t code) const { return failAll || failing.count(code) != 0; }
};

// When a device served a board: interrupts finishing in (from, to] count.
struct ServiceWindow {
  unsigned device;
  uint64_t fromNs;
  uint64_t toNs;  // UINT64_MAX while open
};

struct BoardTrack {
  uint64_t seen = 0;  // conversions of the log taken into account
  // InterruptControl as written: (time from which it holds, value).
  std::vector<std::pair<uint64_t, uint8_t>> interruptControl{{0, 0}};
  std::vector<ServiceWindow> windows;
};

class DremorRun : public LibraryRun<DremorApi> {
 public:
  DremorRun(const uint8_t* data, size_t size) : LibraryRun(data, size, DAQ_DREMOR_FILE, 150) {}

 private:
  bool Windows() const { return bench_.host() == Bench::Host::kWindows; }
  bool PortsUsable() const { return portHeld_ && selected_; }
  bool ConversionsAllowed() const { return active_ < table_.size() && PortsUsable(); }
  VarnoDriver* Device(unsigned n) const { return bench_.VarnoDevice(n); }

  // ---- The bench ----------------------------------------------------------------------
  void BuildBench() override {
    RandomHost(in_, bench_, 15, log_);
    const unsigned boards = in_.Percent(10) ? 5 + in_.Below(3) : in_.Percent(90) ? 1 + in_.Below(3) : 0;
    for (unsigned i = 0; i < boards; ++i) AddBoard(true);
    for (unsigned i = in_.Below(3); i > 0; --i) AddBoard(false);
    bench_.InstallVarnoDevices();
    if (in_.Percent(30)) ChangeDevice();
  }

  // A window of `size` ports for a board: the bench's allocator, or a window
  // of the low port space that no function decodes yet.
  uint32_t FreeWindow(uint32_t size) {
    if (in_.Percent(60)) return bench_.AllocateIo(size);
    const uint32_t base = (in_.U16() % 0xC000u) & ~(size - 1);
    for (daqsim::PciFunction* fn : bench_.Functions()) {
      for (int i = 0; i < 6; ++i) {
        const daqsim::Bar b = fn->bar(i);
        if (b.kind == daqsim::Bar::Kind::kIo && b.base < base + size && base < b.base + b.size) {
          return bench_.AllocateIo(size);
        }
      }
    }
    return base;
  }

  void AddBoard(bool varno) {
    const PciLocation at = RandomSlot(in_);
    daqsim::BarSet bars{};
    bars[0] = daqsim::Bar::Memory(0xFEBF0000u - 0x1000u * in_.Below(16), 0x80);
    bars[1] = daqsim::Bar::Io(FreeWindow(kBridgeBlock), kBridgeBlock);
    bars[2] = daqsim::Bar::Io(FreeWindow(varno ? kBoardBlock : 0x10), varno ? kBoardBlock : 0x10);
    const uint8_t irq = uint8_t(in_.OneOf<unsigned>({5, 9, 10, 11, 0, 255, in_.U8()}));
    RemoveTrackOf(bench_.At(at));  // a function placed over a board replaces it
    if (!varno) {
      bench_.AddRelayBoard(in_.Bool() ? daqsim::RelayModel::kKorvel : daqsim::RelayModel::kLumar, at, bars, irq);
      log_.Add("bench: relay board at %u:%02u.%u", at.bus, at.device, at.function);
      placed_.push_back(at);
      return;
    }
    MultifunctionBoard& b = bench_.AddMultifunctionBoard(at, bars, irq, uint8_t(in_.Below(5)));
    placed_.push_back(at);
    log_.Add("bench: VARNO at %u:%02u.%u, bridge 0x%04X, block 0x%04X, line %u", at.bus, at.device, at.function,
             bars[1].base, bars[2].base, irq);
    for (unsigned n = in_.Below(4); n > 0; --n) SetSignal(b);
    b.SetDigitalInputs(in_.U16());
    if (in_.Percent(10)) {
      // Odd firmware: bits above 15 in a BAR (the board then decodes no
      // port there) or any interrupt register.
      const unsigned reg = in_.OneOf<unsigned>({0x14, 0x18, 0x3C});
      const uint32_t value = reg == 0x3C ? in_.U32() : (b.ConfigDword(reg) & 0xFFFFu) | (in_.U32() | 0x10000u) << 16;
      b.PokeConfigDword(reg, value);
      log_.Add("  config 0x%02X := 0x%08X", reg, value);
    }
    tracks_[&b];
  }

  void SetSignal(MultifunctionBoard& b) {
    const int ch = int(in_.Below(16));
    const double amp = double(in_.U8()) / 16.0, hz = double(in_.U16() % 5000);
    daqsim::Signal s;
    switch (in_.Below(5)) {
      case 0: s = daqsim::Signal::Dc(double(int(in_.U16()) - 32768) / 2048.0); break;
      case 1: s = daqsim::Signal::Sine(amp, hz, in_.U8()); break;
      case 2: s = daqsim::Signal::Square(amp, hz); break;
      case 3: s = daqsim::Signal::Triangle(amp, hz); break;
      default: s = daqsim::Signal::Noise(amp / 8, in_.U8()); break;
    }
    b.SetSignal(ch, s);
  }

  std::vector<MultifunctionBoard*> VarnoBoards() const {
    std::vector<MultifunctionBoard*> out;
    for (daqsim::PciFunction* fn : bench_.Functions()) {
      if (auto* b = dynamic_cast<MultifunctionBoard*>(fn)) out.push_back(b);
    }
    return out;
  }

  // The board whose block decodes the ports of `row` (nullptr: nothing
  // answers there, the lines float).
  MultifunctionBoard* BoardAt(const Row& row) const {
    for (MultifunctionBoard* b : VarnoBoards()) {
      if (b->bar(2).base == row.io) return b;
    }
    return nullptr;
  }

  // The device's open by the library succeeds: installed, accepting, and not
  // held by another program when exclusive (its own handle it closed first).
  bool Opens(const daqsim::KernelDevice* d) const {
    return d && d->installed() && !d->refusesOpen() && !(d->exclusive() && foreign_.On(d->name()) > 0);
  }

  // ---- The scan ---------------------------------------------------------------------
  // What the scan of dremor.h finds on the bench as it is now: buses 0-9,
  // devices 0-31, function 0, in that order, at most 4.
  std::vector<Row> ScanOf() const {
    std::vector<Row> rows;
    for (uint8_t bus = 0; bus < 10; ++bus) {
      for (uint8_t dev = 0; dev < 32; ++dev) {
        const daqsim::PciFunction* fn = bench_.At(PciLocation{bus, dev, 0});
        if (!fn || fn->ConfigDword(0) != (uint32_t(kVarnoDevice) << 16 | kVendor)) continue;
        if (rows.size() == kMaxBoards) continue;
        rows.push_back(Row{uint16_t(fn->ConfigDword(0x14) & 0xFFFE), uint16_t(fn->ConfigDword(0x18) & 0xFFFE),
                           uint16_t(fn->ConfigDword(0x3C) & 0xFF)});
      }
    }
    return rows;
  }
  void Rescan() {
    table_ = ScanOf();
    if (!table_.empty()) everFound_ = true;
  }

  // ---- One step ---------------------------------------------------------------------
  // The usual order of an application, which most inputs start with so that
  // the calls after it reach a selected board and a running acquisition:
  // DriverInit, ActiveBoard, InstallIrq, INT_AdStart, time passing.
  static constexpr int kPrologue[] = {0, 4, 17, 19, 30};

  void BeforeSteps() override { prologue_ = in_.Percent(70) ? 2 + in_.Below(4) : 0; }
  // An input also ends once the library has made 100,000 port accesses
  // (bench time, and so run time, bounded).
  bool MayGoOn() const override { return bench_.portAccessCount() < 100000; }
  // The first prologue_ steps make the prologue's calls, the others the
  // input's pick.
  bool Step(size_t step) override {
    sleptMsBefore_ = bench_.sleptMs();
    touchExpected_ = false;
    return Call(step < prologue_ ? kPrologue[step] : int(in_.Below(40)));
  }

  bool Call(int op) {
    switch (op) {
      case 0: case 1: case 2: DriverInit(); return true;
      case 3: GetConfig(); return true;
      case 4: case 5: ActiveBoard(); return true;
      case 6: Simple(); return true;
      case 7: DriverClose(); return true;
      case 8: SetupTimer(); return true;
      case 9: DigitalIo(); return true;
      case 10: case 11: SetChannelConfig(); return true;
      case 12: Polling(); return true;
      case 13: AdPolling(); return true;
      case 14: AdsPolling(); return true;
      case 15: case 16: Pacer(); return true;
      case 17: case 18: InstallIrq(); return true;
      case 19: case 20: IntStart(); return true;
      case 21: IntStop(); return true;
      case 22: case 23: GetIntCount(); return true;
      case 24: case 25: case 26: GetBuffer(); return true;
      case 27: case 28: case 29: GetFloatBuffer(); return true;
      case 30: case 31: Sleep(); return false;
      case 32: ChangeDevice(); return false;
      case 33: FailRequests(); return false;
      case 34: BoardFault(); return false;
      case 35: Inject(); return false;
      case 36: ChangeBus(); return false;
      case 37: {
        const unsigned n = in_.OneOf<unsigned>({1, 1, 2, 100});
        bench_.FailNextAllocations(n);
        allocFailures_ = n;
        log_.Add("bench: the next %u allocations fail", n);
        return false;
      }
      default: {
        const auto boards = VarnoBoards();
        if (!boards.empty()) {
          MultifunctionBoard* b = boards[in_.Below(uint32_t(boards.size()))];
          if (in_.Bool()) SetSignal(*b);
          else b->SetDigitalInputs(in_.U16());
        }
        return false;
      }
    }
  }

  // ---- Changes of the bench -----------------------------------------------------------
  void Sleep() {
    const uint32_t ms = in_.Percent(90) ? in_.Below(40) : in_.Below(300);
    bench_.Sleep(ms);
    log_.Add("bench: %u ms pass", ms);
  }

  void ChangeDevice() {
    if (in_.Percent(30)) {
      ChangeKernelDevice(in_, bench_, bench_.PortAccessDriver(), foreign_, log_);
    } else if (VarnoDriver* d = Device(in_.Below(VarnoDriver::kDevices))) {
      ChangeKernelDevice(in_, bench_, *d, foreign_, log_);
    }
  }

  void FailRequests() {
    const unsigned n = in_.Below(VarnoDriver::kDevices);
    VarnoDriver* d = Device(n);
    if (!d) return;
    DeviceModel& m = devices_[n];
    if (in_.Percent(15)) {
      m.failAll = !m.failAll;
      d->FailAllRequests(m.failAll);
      log_.Add("bench: VARNO%u %s", n, m.failAll ? "fails every request" : "answers requests");
      return;
    }
    if (in_.Percent(10)) {
      m.version = in_.U16();
      d->SetVersion(m.version);
      log_.Add("bench: VARNO%u version 0x%04X", n, m.version);
      return;
    }
    const uint32_t code = in_.OneOf<uint32_t>({IOCTL_VARNO_IRQ_USER_VALUE, IOCTL_VARNO_READ_SAMPLES, IOCTL_VARNO_STOP,
                                               IOCTL_VARNO_IRQ_RESOURCES, IOCTL_VARNO_GET_INT_COUNT,
                                               IOCTL_VARNO_GET_VERSION});
    const bool fail = !m.failing.count(code);
    if (fail) m.failing.insert(code); else m.failing.erase(code);
    d->FailRequest(code, fail);
    log_.Add("bench: VARNO%u request 0x%08X %s", n, code, fail ? "fails" : "answers");
  }

  // Turns an on/off fault of board `b` the other way (`wasOn`: how it stood)
  // and logs what `what` (the converter, the counter clock) does now.
  void FlipFault(MultifunctionBoard& b, bool wasOn, void (MultifunctionBoard::*set)(bool), const char* what,
                 const char* whenOn, const char* whenOff) {
    (b.*set)(!wasOn);
    log_.Add("bench: board 0x%04X %s %s", b.IoBase(), what, wasOn ? whenOff : whenOn);
  }

  void BoardFault() {
    const auto boards = VarnoBoards();
    if (boards.empty()) return;
    MultifunctionBoard* b = boards[in_.Below(uint32_t(boards.size()))];
    switch (in_.Below(6)) {
      case 0:
        FlipFault(*b, b->converter().NeverFinishes(), &MultifunctionBoard::SetConverterNeverFinishes, "converter",
                  "never finishes", "finishes");
        break;
      case 1: {
        const uint64_t at = bench_.NowNs() + 1000ull * in_.Below(3000);
        b->SetConverterNeverFinishesAt(at);
        log_.Add("bench: board 0x%04X converter stops finishing at %llu ns", b->IoBase(), (unsigned long long)at);
        break;
      }
      case 2:
        FlipFault(*b, b->converter().EocStuckHigh(), &MultifunctionBoard::SetEocStuckHigh, "end of conversion",
                  "stuck high", "works");
        break;
      case 3:
        FlipFault(*b, b->timer().ClockStopped(), &MultifunctionBoard::SetCounterClockStopped, "counter clock",
                  "stopped", "runs");
        break;
      default: {
        const uint32_t hz = in_.Percent(90) ? in_.OneOf<uint32_t>({4000000, 1000000, 10000000})
                                            : in_.OneOf<uint32_t>({32768, 1000});
        b->SetCounterClockHz(hz);
        log_.Add("bench: board 0x%04X counter clock %u Hz", b->IoBase(), hz);
        break;
      }
    }
  }

  void Inject() {
    const unsigned n = in_.Below(VarnoDriver::kDevices);
    VarnoDriver* d = Device(n);
    if (!d) return;
    std::vector<uint16_t> words(in_.Below(6));
    for (uint16_t& w : words) w = in_.U16();
    CatchUpStreams();  // interrupts due before now come first
    d->InjectSamples(words);
    DeviceModel& m = devices_[n];
    for (uint16_t w : words) m.words.push_back(w);
    m.count += uint32_t(words.size());
    log_.Add("bench: %zu words injected into VARNO%u", words.size(), n);
  }

  void ChangeBus() {
    if (in_.Percent(40) && !placed_.empty()) {
      const size_t i = in_.Below(uint32_t(placed_.size()));
      const PciLocation at = placed_[i];
      placed_.erase(placed_.begin() + long(i));
      CatchUpStreams();
      RemoveTrackOf(bench_.At(at));
      if (bench_.Remove(at)) log_.Add("bench: removed %u:%02u.%u", at.bus, at.device, at.function);
    } else {
      CatchUpStreams();
      AddBoard(in_.Percent(80));
    }
  }

  // A board leaves the bus: the windows of the devices serving it close now.
  void RemoveTrackOf(daqsim::PciFunction* fn) {
    auto* b = dynamic_cast<MultifunctionBoard*>(fn);
    if (!b) return;
    auto it = tracks_.find(b);
    if (it == tracks_.end()) return;
    for (ServiceWindow& w : it->second.windows) {
      if (w.toNs == UINT64_MAX) w.toNs = bench_.NowNs();
    }
    tracks_.erase(it);
  }

  // ---- Arguments ----------------------------------------------------------------------
  uint16_t BoardArg() {
    const uint16_t n = uint16_t(table_.size());
    if (n && in_.Bool()) return uint16_t(in_.Below(n));
    return in_.Arg16({0, 1, 2, 3, 4, uint16_t(n - 1), n, uint16_t(n + 1), 0x8000, 0xFFFF});
  }
  uint16_t CodeArg() {
    if (in_.Percent(60)) return daqtest::kExpectedRanges[in_.Below(8)].code;
    if (in_.Percent(70)) return daqtest::kCodesWithoutARow[in_.Below(9)];
    return in_.U16();
  }
  uint16_t DivisorArg() { return in_.Arg16({0, 1, 2, 3, 40, 100, 400, 1000, 4000, 40000, 65535}); }

  // ---- The owed reset and park, and the accesses of a call --------------------------
  // The writes of a reset of the board at `row`: bridge interrupt off,
  // channel 0, counters 1, 0 and 2 parked (count 1 in mode 2, low byte then
  // high byte).
  static std::vector<Write8> ResetWrites(const Row& r) {
    return {{uint16_t(r.bridge + kInterruptControl), 0x00}, {uint16_t(r.io + kChannelSelect), 0x00},
            {uint16_t(r.io + kCounterControl), 0x74},       {uint16_t(r.io + kCounter1), 0x01},
            {uint16_t(r.io + kCounter1), 0x00},             {uint16_t(r.io + kCounterControl), 0x34},
            {uint16_t(r.io + kCounter0), 0x01},             {uint16_t(r.io + kCounter0), 0x00},
            {uint16_t(r.io + kCounterControl), 0xB4},       {uint16_t(r.io + kCounter2), 0x01},
            {uint16_t(r.io + kCounter2), 0x00}};
  }
  static std::vector<Write8> LoadCounter(const Row& r, unsigned n, uint16_t count) {
    const uint16_t port = uint16_t(r.io + n * 4);
    return {{uint16_t(r.io + kCounterControl), uint8_t(n << 6 | 0x34)},
            {port, uint8_t(count)},
            {port, uint8_t(count >> 8)}};
  }

  // The trace from `*at` begins with `writes`; moves `*at` past them.
  void ExpectWrites(const char* what, const std::vector<Write8>& writes, size_t* at) {
    const auto& t = bench_.trace();
    for (const Write8& w : writes) {
      FUZZ_CHECK(log_, *at < t.size(), "%s: the trace ends before out8(0x%04X)=0x%02X", what, w.port, w.value);
      const PortAccess& a = t[*at];
      FUZZ_CHECK(log_, a.dir == AccessDir::kWrite && a.width == 1 && a.port == w.port && a.value == w.value,
                 "%s: access %zu is %s, expected out8(0x%04X)=0x%02X", what, *at, DescribeAccess(a).c_str(), w.port,
                 w.value);
      ++*at;
    }
  }

  // A call that drives the active board: first what it is owed (the reset
  // of a selection made without port access, or the park of a stop made
  // without it), then its own accesses. Returns where they begin.
  size_t Driven(const char* what) {
    touchExpected_ = true;
    size_t at = 0;
    if (resetOwed_) {
      ExpectWrites(what, ResetWrites(activeRow_), &at);
    } else if (parkOwed_) {
      ExpectWrites(what, LoadCounter(activeRow_, 0, 1), &at);
    }
    resetOwed_ = parkOwed_ = false;
    return at;
  }

  void NoAccess(const char* what) {
    FUZZ_CHECK(log_, bench_.trace().empty(), "%s: %zu port accesses where none may be made (first %s)", what,
               bench_.trace().size(), DescribeAccess(bench_.trace()[0]).c_str());
  }

  void ExpectStatus(const char* what, uint16_t status, const Allowed& allowed) {
    if (Stats::on()) Stats::Count(std::string(what) + " -> " + std::to_string(status));
    FUZZ_CHECK(log_, allowed.Has(status), "%s: status %u, the header allows %s", what, status, allowed.Text().c_str());
  }

  // ---- Driver access, discovery and the active board --------------------------------
  void DriverInit() {
    uint16_t count = kCanary16;
    const uint16_t status = api_.VARNO_DriverInit(&count);
    log_.Add("VARNO_DriverInit -> %u, count %u", status, count);
    const char* what = "VARNO_DriverInit";
    // Both devices held from before are closed first.
    portHeld_ = irqHeld_ = false;
    uint16_t want = DREMOR_OK;
    if (Windows()) {
      if (!Opens(Device(active_))) {
        want = DREMOR_ERR_NO_INTERRUPT_DEVICE;
      } else {
        irqHeld_ = true;
        irqDevice_ = active_;
      }
    }
    if (want == DREMOR_OK && !Opens(&bench_.PortAccessDriver())) want = DREMOR_ERR_NO_DRIVER;
    if (want != DREMOR_OK) {
      ExpectStatus(what, status, {want});
      FUZZ_CHECK(log_, count == kCanary16, "%s: count written on status %u", what, status);
      NoAccess(what);
      return;
    }
    portHeld_ = true;
    Rescan();
    ExpectStatus(what, status, {table_.empty() ? uint16_t(DREMOR_ERR_NO_BOARD) : uint16_t(DREMOR_OK)});
    FUZZ_CHECK(log_, count == table_.size(), "%s: count %u, the bus has %zu", what, count, table_.size());
  }

  void GetConfig() {
    const uint32_t slot = BoardArg() | in_.Garbage(16);
    const uint16_t board = uint16_t(slot);
    uint16_t io = kCanary16, dio = kCanary16, ad = kCanary16;
    const uint16_t status = uint16_t(SlotCast<GetConfigSlots>(api_.VARNO_GetConfigAddressSpace)(slot, &io, &dio, &ad));
    log_.Add("VARNO_GetConfigAddressSpace(0x%08X) -> %u, %04X %04X %04X", slot, status, io, dio, ad);
    const char* what = "VARNO_GetConfigAddressSpace";
    uint16_t want = DREMOR_OK;
    if (!everFound_) {
      if (portHeld_) Rescan();  // the lazy scan, only with port access
      if (!everFound_) want = DREMOR_ERR_LAZY_NO_BOARD;
    }
    if (want == DREMOR_OK && board >= table_.size()) want = DREMOR_ERR_BOARD_RANGE;
    ExpectStatus(what, status, {want});
    if (status == DREMOR_OK) {
      const uint16_t base = table_[board].io;
      FUZZ_CHECK(log_, io == base && dio == uint16_t(base + kDigitalIo) && ad == uint16_t(base + kAdData),
                 "%s: %04X %04X %04X, board %u's block is at 0x%04X", what, io, dio, ad, board, base);
    } else {
      FUZZ_CHECK(log_, io == kCanary16 && dio == kCanary16 && ad == kCanary16, "%s: output written on failure", what);
    }
  }

  void ActiveBoard() {
    const uint32_t slot = BoardArg() | in_.Garbage(16);
    const uint16_t board = uint16_t(slot);
    const unsigned sleepsBefore = bench_.sleepCalls();
    const uint16_t status = uint16_t(SlotCast<OneSlot>(api_.VARNO_ActiveBoard)(slot));
    log_.Add("VARNO_ActiveBoard(0x%08X) -> %u", slot, status);
    const char* what = "VARNO_ActiveBoard";
    if (board >= table_.size()) {
      ExpectStatus(what, status, {DREMOR_ERR_BOARD_RANGE});
      NoAccess(what);
      FUZZ_CHECK(log_, bench_.sleepCalls() == sleepsBefore, "%s: a refused selection pauses", what);
      return;
    }
    active_ = board;
    activeRow_ = table_[board];
    selected_ = true;
    resetOwed_ = true;  // made now with port access, owed otherwise
    parkOwed_ = false;
    if (portHeld_) {
      const size_t at = Driven(what);
      FUZZ_CHECK(log_, at == bench_.trace().size(), "%s: %zu accesses besides the reset", what,
                 bench_.trace().size() - at);
    } else {
      NoAccess(what);
    }
    if (!Windows()) {
      ExpectStatus(what, status, {DREMOR_OK});
      FUZZ_CHECK(log_, bench_.sleepCalls() == sleepsBefore, "%s: pauses on Linux", what);
      return;
    }
    FUZZ_CHECK(log_, bench_.sleepCalls() == sleepsBefore + 1 && bench_.sleptMs() == sleptMsBefore_ + 100,
               "%s: the pause is one of 100 ms", what);
    irqHeld_ = false;
    if (Opens(Device(board))) {
      irqHeld_ = true;
      irqDevice_ = board;
      ExpectStatus(what, status, {DREMOR_OK});
    } else {
      ExpectStatus(what, status, {DREMOR_ERR_NO_INTERRUPT_DEVICE});
    }
  }

  // The exports that answer from the model's state alone.
  void Simple() {
    switch (in_.Below(5)) {
      case 0: {
        const uint16_t got = api_.VARNO_WhichBoardActive();
        log_.Add("VARNO_WhichBoardActive -> %u", got);
        FUZZ_CHECK(log_, got == active_, "VARNO_WhichBoardActive: %u, the model says %u", got, active_);
        break;
      }
      case 1: {
        uint16_t irq = kCanary16;
        const uint16_t status = api_.VARNO_GetIrqNo(&irq);
        log_.Add("VARNO_GetIrqNo -> %u, %u", status, irq);
        const uint16_t want = selected_ ? activeRow_.irq : 0;
        FUZZ_CHECK(log_, status == DREMOR_OK && irq == want, "VARNO_GetIrqNo: %u, %u; the active line is %u", status,
                   irq, want);
        break;
      }
      case 2: {
        uint16_t version = kCanary16;
        const uint16_t status = api_.VARNO_GetDriverVersion(&version);
        log_.Add("VARNO_GetDriverVersion -> %u, 0x%04X", status, version);
        const bool ok = Windows() && irqHeld_ && !devices_[irqDevice_].Fails(IOCTL_VARNO_GET_VERSION);
        ExpectStatus("VARNO_GetDriverVersion", status, {ok ? uint16_t(DREMOR_OK) : uint16_t(DREMOR_ERR_DRIVER_VERSION)});
        const uint16_t want = ok ? devices_[irqDevice_].version : kNoDriverVersion;
        FUZZ_CHECK(log_, version == want, "VARNO_GetDriverVersion: 0x%04X, expected 0x%04X", version, want);
        break;
      }
      case 3: {
        const uint16_t v = api_.VARNO_GetDllVersion();
        log_.Add("VARNO_GetDllVersion -> 0x%04X", v);
        FUZZ_CHECK(log_, v == kDllVersion, "VARNO_GetDllVersion: 0x%04X", v);
        break;
      }
      default: {
        const uint32_t ab = in_.U32(), bb = in_.U32();
        float a, b;
        std::memcpy(&a, &ab, 4);
        std::memcpy(&b, &bb, 4);
        const float got = api_.VARNO_FloatSub(a, b), want = a - b;
        FUZZ_CHECK(log_, std::isnan(want) ? std::isnan(got) : Bits(got) == Bits(want),
                   "VARNO_FloatSub(0x%08X, 0x%08X) = 0x%08X", ab, bb, Bits(got));
        const uint32_t x = in_.U32(), y = in_.U32();
        const uint16_t d = uint16_t(SlotCast<TwoSlots>(api_.VARNO_ShortSub)(x, y));
        FUZZ_CHECK(log_, d == uint16_t(x - y), "VARNO_ShortSub(0x%08X, 0x%08X) = 0x%04X", x, y, d);
        log_.Add("VARNO_FloatSub, VARNO_ShortSub");
        break;
      }
    }
    NoAccess("a call that needs no port");
  }

  void DriverClose() {
    const int got = api_.VARNO_DriverClose();
    log_.Add("VARNO_DriverClose -> %d", got);
    const bool want = Windows() ? irqHeld_ : portHeld_;
    FUZZ_CHECK(log_, (got != 0) == want, "VARNO_DriverClose: %d, the %s device was %sheld", got,
               Windows() ? "interrupt" : "port-access", want ? "" : "not ");
    portHeld_ = irqHeld_ = false;
    NoAccess("VARNO_DriverClose");
  }

  // ---- Timer and digital I/O ----------------------------------------------------------
  void SetupTimer() {
    const uint32_t counter = in_.Arg16({0, 1, 2, 3, 4, 7}) | in_.Garbage(16);
    const uint16_t divisor = DivisorArg();
    const uint32_t divisorSlot = divisor | in_.Garbage(16);
    SlotCast<TwoSlotsVoid>(api_.VARNO_SetupTimer)(counter, divisorSlot);
    log_.Add("VARNO_SetupTimer(0x%08X, 0x%08X)", counter, divisorSlot);
    if (!PortsUsable()) return NoAccess("VARNO_SetupTimer");
    size_t at = Driven("VARNO_SetupTimer");
    ExpectWrites("VARNO_SetupTimer", LoadCounter(activeRow_, counter & 3, divisor), &at);
    FUZZ_CHECK(log_, at == bench_.trace().size(), "VARNO_SetupTimer: more than the load");
  }

  void DigitalIo() {
    const char* what;
    if (in_.Bool()) {
      what = "VARNO_Do";
      const uint32_t slot = in_.U16() | in_.Garbage(16);
      SlotCast<OneSlot>(api_.VARNO_Do)(slot);
      log_.Add("VARNO_Do(0x%08X)", slot);
      if (!PortsUsable()) return NoAccess(what);
      const size_t at = Driven(what);
      const auto& t = bench_.trace();
      FUZZ_CHECK(log_, t.size() == at + 1 && t[at].dir == AccessDir::kWrite && t[at].width == 2 &&
                           t[at].port == uint16_t(activeRow_.io + kDigitalIo) && t[at].value == (slot & 0xFFFF),
                 "%s: not one 16-bit write of the pattern to DigitalIo", what);
      return;
    }
    what = "VARNO_Di";
    uint16_t pattern = kCanary16;
    const uint16_t status = uint16_t(SlotCast<PointerSlot>(api_.VARNO_Di)(&pattern));
    log_.Add("VARNO_Di -> %u, 0x%04X", status, pattern);
    if (!PortsUsable()) {
      ExpectStatus(what, status, {DREMOR_ERR_BOARD_RANGE});
      FUZZ_CHECK(log_, pattern == kCanary16, "%s: output written on failure", what);
      return NoAccess(what);
    }
    ExpectStatus(what, status, {DREMOR_OK});
    const size_t at = Driven(what);
    const auto& t = bench_.trace();
    FUZZ_CHECK(log_, t.size() == at + 1 && t[at].dir == AccessDir::kRead && t[at].width == 2 &&
                         t[at].port == uint16_t(activeRow_.io + kDigitalIo),
               "%s: not one 16-bit read of DigitalIo", what);
    FUZZ_CHECK(log_, pattern == t[at].value, "%s: 0x%04X, the port read 0x%04X", what, pattern, t[at].value);
  }

  // ---- A/D configuration --------------------------------------------------------------
  // The channel and code writes and the settling wait (counter 2 in mode 0,
  // loaded with the count of the code, then latched and read).
  void ExpectConfiguration(const char* what, uint8_t channel, uint16_t code, size_t* at) {
    const uint16_t settle = daqtest::ExpectedSettling(code);
    ExpectWrites(what,
                 {{uint16_t(activeRow_.io + kChannelSelect), channel},
                  {uint16_t(activeRow_.io + kGainControl), uint8_t(code)},
                  {uint16_t(activeRow_.io + kCounterControl), 0xB0},
                  {uint16_t(activeRow_.io + kCounter2), uint8_t(settle)},
                  {uint16_t(activeRow_.io + kCounter2), uint8_t(settle >> 8)}},
                 at);
    const auto& t = bench_.trace();
    while (*at < t.size() && (t[*at].port == uint16_t(activeRow_.io + kCounterControl) ||
                              t[*at].port == uint16_t(activeRow_.io + kCounter2))) {
      ++*at;
    }
  }

  void SetChannelConfig() {
    const uint8_t channel = uint8_t(in_.Percent(80) ? in_.Below(16) : in_.U8());
    const uint32_t channelSlot = channel | in_.Garbage(8);
    const uint16_t code = CodeArg();
    const uint32_t codeSlot = code | in_.Garbage(16);
    const uint16_t status = uint16_t(SlotCast<TwoSlots>(api_.VARNO_SetChannelConfig)(channelSlot, codeSlot));
    log_.Add("VARNO_SetChannelConfig(0x%08X, 0x%08X) -> %u", channelSlot, codeSlot, status);
    const char* what = "VARNO_SetChannelConfig";
    if (!PortsUsable()) {
      ExpectStatus(what, status, {DREMOR_ERR_BOARD_RANGE});
      return NoAccess(what);  // the code it had stays
    }
    ExpectStatus(what, status, {DREMOR_OK});
    code_ = code;
    size_t at = Driven(what);
    ExpectConfiguration(what, channel, code, &at);
    FUZZ_CHECK(log_, at == bench_.trace().size(), "%s: %s after the settling wait", what,
               DescribeAccess(bench_.trace()[at]).c_str());
  }

  // ---- Conversions ----------------------------------------------------------------------
  // Whether counter 0 of the board behind the active ports may pace now.
  bool PacerMayRun(MultifunctionBoard* b) const {
    return b && b->timer().NextOutRisingEdge(0, bench_.NowNs()) != daqsim::I8254::kNever;
  }

  // The statuses a block of `count` software-triggered conversions may end
  // with, from what the bench's board does.
  Allowed SoftwareStatuses(uint32_t count) {
    if (count == 0) return {DREMOR_OK};
    MultifunctionBoard* b = BoardAt(activeRow_);
    if (!b) return {DREMOR_OK};  // nothing answers: AdStatus floats high
    const daqsim::AdConverter& c = b->converter();
    if (c.EocStuckHigh()) return {DREMOR_OK};
    // A conversion still running (a pacer's, say) finishes whatever comes:
    // the trigger is then ignored and the flag rises all the same.
    const uint64_t pending = c.PendingCompletionNs();
    const bool running = PacerMayRun(b) || (pending != daqsim::AdConverter::kNever && pending > bench_.NowNs());
    if (c.NeverFinishes() && !running) return {DREMOR_ERR_AD_TIMEOUT};
    if (c.NeverFinishes() || b->state().neverFinishesAt != UINT64_MAX || PacerMayRun(b)) {
      return {DREMOR_OK, DREMOR_ERR_AD_TIMEOUT};
    }
    return {DREMOR_OK};
  }

  // The same for a pacer-clocked block with `divisor`.
  Allowed PacerStatuses(uint32_t count, uint16_t divisor) {
    if (count == 0) return {DREMOR_OK};
    MultifunctionBoard* b = BoardAt(activeRow_);
    if (!b) return {DREMOR_ERR_AD_TIMEOUT};  // AdStatus floats high: never a low phase
    const daqsim::AdConverter& c = b->converter();
    if (c.EocStuckHigh()) return {DREMOR_ERR_AD_TIMEOUT};  // never a low phase
    // A conversion under way when the block starts (the pacer was running)
    // makes a first sample whatever the new divisor; a second one needs a
    // pulse of the pacer as the block set it.
    const uint64_t pending = c.PendingCompletionNs();
    const bool underWay = PacerMayRun(b) || (pending != daqsim::AdConverter::kNever && pending > bench_.NowNs());
    const Allowed noPulse = count == 1 && underWay ? Allowed{DREMOR_OK, DREMOR_ERR_AD_TIMEOUT}
                                                   : Allowed{DREMOR_ERR_AD_TIMEOUT};
    const uint32_t hz = b->CounterClockHz();
    if (b->timer().ClockStopped() || hz == 0 || divisor == 1) return noPulse;
    if (c.NeverFinishes()) {
      return count == 1 ? Allowed{DREMOR_OK, DREMOR_ERR_AD_TIMEOUT} : Allowed{DREMOR_ERR_AD_TIMEOUT};
    }
    if (b->state().neverFinishesAt != UINT64_MAX) return {DREMOR_OK, DREMOR_ERR_AD_TIMEOUT};
    const double period = (divisor == 0 ? 65536.0 : double(divisor)) / hz;
    if (period > 0.070) return noPulse;  // beyond 65531 status reads of 1 us
    if (period < 50e-6 || period > 0.030) return {DREMOR_OK, DREMOR_ERR_AD_TIMEOUT};
    return {DREMOR_OK};
  }

  // The AdData reads of the trace from `at`: the codes the call converted.
  std::vector<uint16_t> AdDataReads(size_t at) const {
    std::vector<uint16_t> out;
    const auto& t = bench_.trace();
    for (size_t i = at; i < t.size(); ++i) {
      if (t[i].dir == AccessDir::kRead && t[i].port == uint16_t(activeRow_.io + kAdData)) {
        FUZZ_CHECK(log_, t[i].width == 2, "an 8-bit read of AdData");
        out.push_back(uint16_t(t[i].value & 0x0FFF));
      }
    }
    return out;
  }

  // Every access of a polled conversion is a trigger, a status read or a
  // data read of the active board.
  void OnlyConversionPorts(const char* what, size_t at) {
    const auto& t = bench_.trace();
    for (size_t i = at; i < t.size(); ++i) {
      const uint16_t off = uint16_t(t[i].port - activeRow_.io);
      const bool ok = (t[i].dir == AccessDir::kWrite && off == kSoftwareTrigger) ||
                      (t[i].dir == AccessDir::kRead && (off == kAdStatus || off == kAdData));
      FUZZ_CHECK(log_, ok, "%s: %s in a polled conversion", what, DescribeAccess(t[i]).c_str());
    }
  }

  void Polling() {
    const char* what = "VARNO_Polling";
    uint16_t raw = kCanary16;
    const bool allowed = ConversionsAllowed();
    const Allowed expect = allowed ? SoftwareStatuses(1) : Allowed{DREMOR_ERR_BOARD_RANGE};
    const uint16_t status = uint16_t(SlotCast<PointerSlot>(api_.VARNO_Polling)(&raw));
    log_.Add("VARNO_Polling -> %u, 0x%04X", status, raw);
    ExpectStatus(what, status, expect);
    if (!allowed) {
      FUZZ_CHECK(log_, raw == kCanary16, "%s: output written on failure", what);
      return NoAccess(what);
    }
    const size_t at = Driven(what);
    const auto& t = bench_.trace();
    FUZZ_CHECK(log_, at < t.size() && t[at].dir == AccessDir::kWrite && t[at].width == 2 &&
                         t[at].port == uint16_t(activeRow_.io + kSoftwareTrigger),
               "%s: the conversion does not start with a 16-bit write of SoftwareTrigger", what);
    OnlyConversionPorts(what, at);
    const std::vector<uint16_t> reads = AdDataReads(at);
    if (status == DREMOR_OK) {
      FUZZ_CHECK(log_, reads.size() == 1 && raw == reads[0], "%s: 0x%04X, AdData gave %zu codes", what, raw,
                 reads.size());
    } else {
      FUZZ_CHECK(log_, raw == kCanary16 && reads.empty(), "%s: output written on time-out", what);
    }
  }

  void AdPolling() {
    const char* what = "VARNO_AdPolling";
    float volts = daqtest::FromBits(kCanaryFloat);
    const bool allowed = ConversionsAllowed();
    const Allowed expect = allowed ? SoftwareStatuses(1) : Allowed{DREMOR_ERR_BOARD_RANGE};
    const uint16_t status = uint16_t(SlotCast<PointerSlot>(api_.VARNO_AdPolling)(&volts));
    log_.Add("VARNO_AdPolling -> %u, 0x%08X", status, Bits(volts));
    ExpectStatus(what, status, expect);
    if (!allowed) {
      FUZZ_CHECK(log_, Bits(volts) == kCanaryFloat, "%s: output written on failure", what);
      return NoAccess(what);
    }
    const size_t at = Driven(what);
    OnlyConversionPorts(what, at);
    const std::vector<uint16_t> reads = AdDataReads(at);
    if (status == DREMOR_OK) {
      FUZZ_CHECK(log_, reads.size() == 1, "%s: %zu AdData reads", what, reads.size());
      FUZZ_CHECK(log_, SameVolts(volts, Volts(reads[0], code_)), "%s: 0x%08X for code %u under 0x%04X, expected 0x%08X",
                 what, Bits(volts), reads[0], code_, Bits(Volts(reads[0], code_)));
    } else {
      FUZZ_CHECK(log_, Bits(volts) == kCanaryFloat && reads.empty(), "%s: output written on time-out", what);
    }
  }

  // A count for a block: 0, small, now and then larger, up to 65535 rarely.
  uint16_t BlockCount(uint32_t cap) {
    uint32_t n = in_.Percent(80) ? in_.Below(20) : in_.Percent(95) ? in_.Below(400) : in_.U16();
    return uint16_t(n > cap ? cap : n);
  }

  // Outputs 0..k-1 are the conversions (as `convert` gives them), the rest of
  // the array untouched; k is the whole count on success, less on time-out.
  template <class T, class Convert>
  void ExpectBlock(const char* what, uint16_t status, const std::vector<T>& out, uint32_t count, T canary,
                   const std::vector<uint16_t>& reads, Convert convert) {
    const size_t k = reads.size();
    FUZZ_CHECK(log_, status == DREMOR_OK ? k == count : k < count, "%s: %zu conversions read for %u samples, status %u",
               what, k, count, status);
    for (size_t i = 0; i < out.size(); ++i) {
      if (i < k) {
        FUZZ_CHECK(log_, convert(out[i], reads[i]), "%s: sample %zu does not hold code %u", what, i, reads[i]);
      } else {
        FUZZ_CHECK(log_, std::memcmp(&out[i], &canary, sizeof(T)) == 0, "%s: element %zu written (count %u, %zu kept)",
                   what, i, count, k);
      }
    }
  }

  void AdsPolling() {
    const char* what = "VARNO_AdsPolling";
    const uint16_t count = BlockCount(in_.Percent(95) ? 400 : 65535);
    const uint32_t countSlot = count | in_.Garbage(16);
    const float canary = daqtest::FromBits(kCanaryFloat);
    std::vector<float> out(size_t(count) + 1, canary);
    const bool allowed = ConversionsAllowed();
    const Allowed expect = allowed ? SoftwareStatuses(count) : Allowed{DREMOR_ERR_BOARD_RANGE};
    const uint16_t status = uint16_t(SlotCast<PointerCountSlots>(api_.VARNO_AdsPolling)(out.data(), countSlot));
    log_.Add("VARNO_AdsPolling(0x%08X) -> %u", countSlot, status);
    if (!allowed) {
      // "count 0 touches nothing and returns 0" and "13 while it may not
      // touch a port" meet at a count of 0: either answer is taken.
      ExpectStatus(what, status, count == 0 ? Allowed{DREMOR_OK, DREMOR_ERR_BOARD_RANGE} : expect);
      ExpectBlock(what, DREMOR_ERR_BOARD_RANGE, out, count + 1, canary, {}, [](float, uint16_t) { return false; });
      return NoAccess(what);
    }
    ExpectStatus(what, status, expect);
    // (With a count of 0 an owed reset may be paid or left owed.)
    if (count == 0 && bench_.trace().empty()) return;
    const size_t at = Driven(what);
    OnlyConversionPorts(what, at);
    const uint16_t config = code_;
    ExpectBlock(what, status, out, count, canary, AdDataReads(at),
                [config](float v, uint16_t code) { return SameVolts(v, Volts(code, config)); });
  }

  void Pacer() {
    const bool hex = in_.Bool();
    const char* what = hex ? "VARNO_AdsPacerHex" : "VARNO_AdsPacer";
    const uint16_t divisor = DivisorArg();
    // Keep a block within some 60,000 bench microseconds.
    MultifunctionBoard* b = BoardAt(activeRow_);
    const double hz = b && b->CounterClockHz() ? b->CounterClockHz() : 4e6;
    const double periodUs = (divisor == 0 ? 65536.0 : divisor) / hz * 1e6;
    const uint16_t count = BlockCount(uint32_t(60000 / (periodUs < 12 ? 12 : periodUs)) + 1);
    const uint32_t countSlot = count | in_.Garbage(16), divisorSlot = divisor | in_.Garbage(16);
    const bool allowed = ConversionsAllowed();
    const Allowed expect = allowed ? PacerStatuses(count, divisor) : Allowed{DREMOR_ERR_BOARD_RANGE};
    const uint16_t config = code_;
    uint16_t status;
    std::vector<uint16_t> codes(size_t(count) + 1, kCanary16);
    const float canary = daqtest::FromBits(kCanaryFloat);
    std::vector<float> volts(size_t(count) + 1, canary);
    if (hex) {
      status = uint16_t(SlotCast<PointerCountDivisorSlots>(api_.VARNO_AdsPacerHex)(codes.data(), countSlot, divisorSlot));
    } else {
      status = uint16_t(SlotCast<PointerCountDivisorSlots>(api_.VARNO_AdsPacer)(volts.data(), countSlot, divisorSlot));
    }
    log_.Add("%s(0x%08X, 0x%08X) -> %u", what, countSlot, divisorSlot, status);
    ExpectStatus(what, status, expect);
    if (!allowed) {
      ExpectBlock(what, status, codes, count + 1, kCanary16, {}, [](uint16_t, uint16_t) { return false; });
      ExpectBlock(what, status, volts, count + 1, canary, {}, [](float, uint16_t) { return false; });
      return NoAccess(what);
    }
    size_t at = Driven(what);
    ExpectWrites(what, LoadCounter(activeRow_, 0, divisor), &at);
    const std::vector<uint16_t> reads = AdDataReads(at);
    if (hex) {
      ExpectBlock(what, status, codes, count, kCanary16, reads, [](uint16_t c, uint16_t code) { return c == code; });
    } else {
      ExpectBlock(what, status, volts, count, canary, reads,
                  [config](float v, uint16_t code) { return SameVolts(v, Volts(code, config)); });
    }
    const auto& t = bench_.trace();
    if (status == DREMOR_OK && count > 0) {
      // A complete block parks the pacer.
      size_t end = t.size() - 3;
      ExpectWrites(what, LoadCounter(activeRow_, 0, 1), &end);
    } else if (status == DREMOR_ERR_AD_TIMEOUT) {
      // A block that times out leaves the pacer pacing: it ends on a status read.
      FUZZ_CHECK(log_, t.back().dir == AccessDir::kRead && t.back().port == uint16_t(activeRow_.io + kAdStatus),
                 "%s: a timed-out block ends with %s", what, DescribeAccess(t.back()).c_str());
    }
  }

  // ---- Interrupt-driven acquisition ------------------------------------------------------
  bool RequestOk(uint32_t code) const {
    return Windows() && irqHeld_ && !devices_[irqDevice_].Fails(code);
  }

  void InstallIrq() {
    const char* what = "VARNO_InstallIrq";
    uint8_t user[4];
    for (uint8_t& u : user) u = in_.U8();
    const uint32_t param = in_.U32();
    VarnoDriver* dev = irqHeld_ ? Device(irqDevice_) : nullptr;
    const size_t requestsBefore = dev ? dev->requests().size() : 0;
    CatchUpStreams();
    const uint16_t status = uint16_t(SlotCast<InstallSlots>(api_.VARNO_InstallIrq)(user, param));
    log_.Add("VARNO_InstallIrq(%02X%02X%02X%02X, 0x%08X) -> %u", user[0], user[1], user[2], user[3], param, status);
    NoAccess(what);
    if (!RequestOk(IOCTL_VARNO_IRQ_USER_VALUE)) {
      ExpectStatus(what, status, {DREMOR_ERR_INSTALL_IRQ});
      if (dev) {
        FUZZ_CHECK(log_, dev->requests().size() == requestsBefore + (Windows() ? 1 : 0),
                   "%s: the second request sent after the first failed", what);
      }
      return;
    }
    FUZZ_CHECK(log_, dev->userValue() && std::memcmp(dev->userValue()->data(), user, 4) == 0,
               "%s: the driver did not get the 4 bytes at userValue", what);
    // The record: the active board's bases and line (zeros before any
    // selection, the load values), then the parameter.
    const Row rec = selected_ ? activeRow_ : Row{};
    MultifunctionBoard* named = nullptr;
    for (MultifunctionBoard* b : VarnoBoards()) {
      if (b->BridgeBase() == rec.bridge && b->IoBase() == rec.io && b->interruptLine() == rec.irq) {
        named = b;
        break;
      }
    }
    const bool ok = !devices_[irqDevice_].Fails(IOCTL_VARNO_IRQ_RESOURCES) && named;
    ExpectStatus(what, status, {ok ? uint16_t(DREMOR_OK) : uint16_t(DREMOR_ERR_INSTALL_IRQ)});
    FUZZ_CHECK(log_, dev->requests().size() == requestsBefore + 2, "%s: %zu requests, two expected", what,
               dev->requests().size() - requestsBefore);
    if (!ok) return;
    const auto r = dev->resources();
    FUZZ_CHECK(log_, r && r->bridgeBase == rec.bridge && r->ioBase == rec.io && r->irq == rec.irq && r->userParam == param,
               "%s: the driver got %08X %08X %08X %08X, expected %04X %04X %u %08X", what, r->bridgeBase, r->ioBase,
               r->irq, r->userParam, rec.bridge, rec.io, rec.irq, param);
    Bind(irqDevice_, named);
  }

  void IntStart() {
    const char* what = "VARNO_INT_AdStart";
    const uint8_t channel = uint8_t(in_.Percent(80) ? in_.Below(16) : in_.U8());
    const uint32_t channelSlot = channel | in_.Garbage(8);
    const uint16_t code = CodeArg();
    const uint32_t codeSlot = code | in_.Garbage(16);
    const uint16_t divisor = DivisorArg();
    const uint32_t divisorSlot = divisor | in_.Garbage(16);
    const uint16_t status =
        uint16_t(SlotCast<ThreeSlots>(api_.VARNO_INT_AdStart)(channelSlot, codeSlot, divisorSlot));
    log_.Add("VARNO_INT_AdStart(0x%08X, 0x%08X, 0x%08X) -> %u", channelSlot, codeSlot, divisorSlot, status);
    if (!Windows()) {
      ExpectStatus(what, status, {DREMOR_ERR_INTERRUPT_REQUEST});
      return NoAccess(what);
    }
    if (!PortsUsable()) {
      ExpectStatus(what, status, {DREMOR_ERR_BOARD_RANGE});
      return NoAccess(what);
    }
    ExpectStatus(what, status, {DREMOR_OK});
    code_ = code;
    size_t at = Driven(what);
    ExpectWrites(what, LoadCounter(activeRow_, 0, 1), &at);  // parked while the input changes
    ExpectConfiguration(what, channel, code, &at);
    std::vector<Write8> tail = {{uint16_t(activeRow_.io + kAdModeControl), 0x04},
                                {uint16_t(activeRow_.bridge + kInterruptControl), 0x43}};
    for (const Write8& w : LoadCounter(activeRow_, 0, divisor)) tail.push_back(w);
    ExpectWrites(what, tail, &at);
    FUZZ_CHECK(log_, at == bench_.trace().size(), "%s: accesses after the pacer's start", what);
  }

  void IntStop() {
    const char* what = "VARNO_INT_AdStop";
    CatchUpStreams();
    const uint16_t status = api_.VARNO_INT_AdStop();
    log_.Add("VARNO_INT_AdStop -> %u", status);
    if (!Windows()) {
      ExpectStatus(what, status, {DREMOR_ERR_INTERRUPT_REQUEST});
      return NoAccess(what);
    }
    if (PortsUsable()) {
      size_t at = Driven(what);
      ExpectWrites(what, LoadCounter(activeRow_, 0, 1), &at);
      FUZZ_CHECK(log_, at == bench_.trace().size(), "%s: accesses besides the park", what);
    } else if (!irqHeld_) {
      ExpectStatus(what, status, {DREMOR_ERR_BOARD_RANGE});
      return NoAccess(what);
    } else {
      NoAccess(what);
      if (selected_) parkOwed_ = true;
    }
    const bool ok = RequestOk(IOCTL_VARNO_STOP);
    ExpectStatus(what, status, {ok ? uint16_t(DREMOR_OK) : uint16_t(DREMOR_ERR_INTERRUPT_REQUEST)});
    if (ok) Disarm(irqDevice_);
  }

  void GetIntCount() {
    const char* what = "VARNO_GetIntCount";
    uint32_t n = kCanary32;
    CatchUpStreams();
    const uint16_t status = uint16_t(SlotCast<PointerSlot>(api_.VARNO_GetIntCount)(&n));
    log_.Add("VARNO_GetIntCount -> %u, %u", status, n);
    NoAccess(what);
    const bool ok = RequestOk(IOCTL_VARNO_GET_INT_COUNT);
    ExpectStatus(what, status, {ok ? uint16_t(DREMOR_OK) : uint16_t(DREMOR_ERR_INTERRUPT_REQUEST)});
    if (!ok) {
      FUZZ_CHECK(log_, n == kCanary32, "%s: output written on failure", what);
      return;
    }
    const DeviceModel& m = devices_[irqDevice_];
    const uint32_t want = m.exact ? m.count : Device(irqDevice_)->interruptCount();
    FUZZ_CHECK(log_, n == want, "%s: %u, the driver counted %u", what, n, want);
  }

  // A sample count for a fetch: what is held, around it, 0, or hostile.
  uint32_t FetchCount(size_t held, bool floats) {
    switch (in_.Below(10)) {
      case 0: return 0;
      case 1: return uint32_t(held) + 1;
      case 2: return held ? uint32_t(held) - 1 : 1;
      case 3: return in_.OneOf<uint32_t>({0x80000000u, 0xFFFFFFFFu, 0x80000001u, floats ? 0x00FFFFFFu : 0x7FFFFFFFu});
      case 4: return in_.Below(uint32_t(held) + 1);
      case 5: return in_.Below(1u << 20);
      default: return uint32_t(held);
    }
  }

  // The words the held device would hand over (its model's, or the
  // driver's own count where the model lost track).
  size_t HeldWords() {
    if (!Windows() || !irqHeld_) return 0;
    const DeviceModel& m = devices_[irqDevice_];
    return m.exact ? m.words.size() : Device(irqDevice_)->heldSamples();
  }

  // What a fetch of `count` answers: 13, the refusal of a count of 2^31 or
  // more (`huge`), a failed allocation (`noMemory`, GetFloatBuffer), or the
  // request's outcome. Where the header leaves the order of two answers
  // open, both are taken.
  Allowed FetchStatuses(uint32_t count, uint16_t huge, bool noMemory, bool floats) {
    const bool range = active_ >= table_.size();
    const bool big = count >= 0x80000000u;
    Allowed a{};
    a.statuses.clear();
    if (range) a.statuses.push_back(DREMOR_ERR_BOARD_RANGE);
    if (big) a.statuses.push_back(huge);
    if (range || big) {
      // On Linux the fetches "answer 110 ... as for a missing device".
      if (!Windows()) a.statuses.push_back(DREMOR_ERR_INTERRUPT_REQUEST);
      return a;
    }
    const bool ok = RequestOk(IOCTL_VARNO_READ_SAMPLES) && count <= HeldWords();
    if (floats && noMemory) {
      // No buffer: 17; a request that would fail anyway may be answered
      // first (the header does not order the two).
      a.statuses.push_back(DREMOR_ERR_NO_MEMORY);
      if (!ok) a.statuses.push_back(DREMOR_ERR_INTERRUPT_REQUEST);
      return a;
    }
    a.statuses.push_back(ok ? DREMOR_OK : DREMOR_ERR_INTERRUPT_REQUEST);
    return a;
  }

  // The fetched words leave the device's model; returns them.
  std::vector<uint16_t> TakeWords(uint32_t count) {
    DeviceModel& m = devices_[irqDevice_];
    std::vector<uint16_t> out(m.words.begin(), m.words.begin() + count);
    m.words.erase(m.words.begin(), m.words.begin() + count);
    return out;
  }

  void GetBuffer() {
    const char* what = "VARNO_GetBuffer";
    CatchUpStreams();
    const uint32_t count = FetchCount(HeldWords(), false);
    const Allowed expect = FetchStatuses(count, DREMOR_ERR_INTERRUPT_REQUEST, false, false);
    // Room for what may be fetched and one more; a count that must fail
    // gets a small buffer (a write there would show under the sanitizers).
    const size_t room = expect.Has(DREMOR_OK) ? size_t(count) + 1 : 64;
    std::vector<uint16_t> buffer(room, kCanary16);
    const uint16_t status = uint16_t(SlotCast<CountPointerSlots>(api_.VARNO_GetBuffer)(count, buffer.data()));
    log_.Add("VARNO_GetBuffer(%u) -> %u", count, status);
    NoAccess(what);
    ExpectStatus(what, status, expect);
    const size_t written = status == DREMOR_OK ? count : 0;
    for (size_t i = written; i < room; ++i) {
      FUZZ_CHECK(log_, buffer[i] == kCanary16, "%s: word %zu written (count %u, status %u)", what, i, count, status);
    }
    if (status != DREMOR_OK) return;
    if (!devices_[irqDevice_].exact) return;
    const std::vector<uint16_t> want = TakeWords(count);
    if (Stats::on()) Stats::Count(count ? "words fetched and checked against the log (calls)" : "empty fetch");
    for (uint32_t i = 0; i < count; ++i) {
      FUZZ_CHECK(log_, buffer[i] == want[i], "%s: word %u is 0x%04X, the board converted 0x%04X", what, i, buffer[i],
                 want[i]);
    }
  }

  void GetFloatBuffer() {
    const char* what = "VARNO_GetFloatBuffer";
    CatchUpStreams();
    const uint32_t count = FetchCount(HeldWords(), true);
    const uint64_t refusedBefore = bench_.heap().refused, allocsBefore = bench_.heap().allocations;
    const bool noMemory = allocFailures_ > 0;
    const Allowed expect = FetchStatuses(count, DREMOR_ERR_NO_MEMORY, noMemory, true);
    const size_t room = expect.Has(DREMOR_OK) ? size_t(count) + 1 : 64;
    const float canary = daqtest::FromBits(kCanaryFloat);
    std::vector<float> volts(room, canary);
    const uint16_t config = code_;
    const uint16_t status = uint16_t(SlotCast<CountPointerSlots>(api_.VARNO_GetFloatBuffer)(count, volts.data()));
    log_.Add("VARNO_GetFloatBuffer(%u) -> %u", count, status);
    NoAccess(what);
    ExpectStatus(what, status, expect);
    // Allocations: none for a count of 2^31 or more; the failures made to
    // happen are used up one per attempt.
    const uint64_t attempts = (bench_.heap().refused - refusedBefore) + (bench_.heap().allocations - allocsBefore);
    if (count >= 0x80000000u) FUZZ_CHECK(log_, attempts == 0, "%s: an allocation for a count of 2^31 or more", what);
    FUZZ_CHECK(log_, attempts <= 1, "%s: %llu allocations", what, (unsigned long long)attempts);
    allocFailures_ -= unsigned(bench_.heap().refused - refusedBefore);
    if (status == DREMOR_OK) {
      FUZZ_CHECK(log_, attempts == 1 && bench_.heap().refused == refusedBefore,
                 "%s: samples without their one temporary buffer", what);
    }
    if (status == DREMOR_ERR_NO_MEMORY && count < 0x80000000u) {
      FUZZ_CHECK(log_, bench_.heap().refused == refusedBefore + 1, "%s: 17 without a failed allocation", what);
    }
    const size_t written = status == DREMOR_OK ? count : 0;
    for (size_t i = written; i < room; ++i) {
      FUZZ_CHECK(log_, Bits(volts[i]) == kCanaryFloat, "%s: element %zu written (count %u, status %u)", what, i, count,
                 status);
    }
    if (status != DREMOR_OK || !devices_[irqDevice_].exact) return;
    const std::vector<uint16_t> want = TakeWords(count);
    if (Stats::on()) Stats::Count(count ? "volts fetched and checked against the log (calls)" : "empty fetch");
    for (uint32_t i = 0; i < count; ++i) {
      const float v = Volts(want[i] & 0x0FFF, config);
      FUZZ_CHECK(log_, SameVolts(volts[i], v), "%s: sample %u is 0x%08X; word 0x%04X under 0x%04X is 0x%08X", what, i,
                 Bits(volts[i]), want[i], config, Bits(v));
    }
  }

  // ---- The words each device holds, from the conversion logs -------------------------
  // Device `d` serves `board` from now on (a successful IRQ_RESOURCES): what
  // it held and counted is dropped; whatever served the board before, and
  // whatever `d` served before, stop now.
  void Bind(unsigned d, MultifunctionBoard* board) {
    const uint64_t now = bench_.NowNs();
    for (auto& [b, track] : tracks_) {
      for (ServiceWindow& w : track.windows) {
        if (w.toNs == UINT64_MAX && (w.device == d || b == board)) w.toNs = now;
      }
    }
    tracks_[board].windows.push_back(ServiceWindow{d, now, UINT64_MAX});
    DeviceModel& m = devices_[d];
    m.words.clear();
    m.count = 0;
    m.exact = true;
  }

  // A successful STOP: the device serves nothing from now on.
  void Disarm(unsigned d) {
    const uint64_t now = bench_.NowNs();
    for (auto& [b, track] : tracks_) {
      for (ServiceWindow& w : track.windows) {
        if (w.toNs == UINT64_MAX && w.device == d) w.toNs = now;
      }
    }
  }

  static bool InterruptOn(const BoardTrack& track, uint64_t doneNs) {
    uint8_t value = 0;
    for (const auto& [from, v] : track.interruptControl) {
      if (from < doneNs) value = v;
    }
    return (value & 0x43) == 0x43;
  }

  // Takes the conversions every board finished since the last look: a pacer
  // conversion in interrupt mode, finishing while the bridge passed the
  // interrupt on and a device served the board, is a word of that device.
  void CatchUpStreams() {
    for (auto& [board, track] : tracks_) {
      const uint64_t finished = board->conversionsFinished();
      const auto& log = board->conversionLog();
      const uint64_t fresh = finished - track.seen;
      track.seen = finished;
      if (fresh > log.size()) {
        // Beyond the log's memory: the devices serving this board lose track.
        for (const ServiceWindow& w : track.windows) devices_[w.device].exact = false;
      }
      const size_t first = fresh > log.size() ? 0 : log.size() - size_t(fresh);
      for (size_t i = first; i < log.size(); ++i) {
        const daqsim::AdConversion& c = log[i];
        if (!c.pacer || !(c.mode & 0x04) || !InterruptOn(track, c.doneNs)) continue;
        for (const ServiceWindow& w : track.windows) {
          if (c.doneNs > w.fromNs && c.doneNs <= w.toNs) {
            devices_[w.device].words.push_back(c.word);
            ++devices_[w.device].count;
            break;
          }
        }
      }
    }
  }

  // The InterruptControl writes of the step's trace, for the boards whose
  // register they reached.
  void RecordInterruptControl() {
    for (const PortAccess& a : bench_.trace()) {
      if (a.dir != AccessDir::kWrite || !a.reg || std::strcmp(a.reg, "InterruptControl") != 0) continue;
      for (auto& [board, track] : tracks_) {
        if (board->bar(1).base + kInterruptControl == a.port) {
          track.interruptControl.emplace_back(a.timeNs + daqsim::Clock::kIoCycleNs, uint8_t(a.value));
        }
      }
    }
  }

  // ---- After every step -----------------------------------------------------------------
  static bool InBlock(uint16_t port, unsigned width, uint16_t base, uint32_t size) {
    return uint16_t(port - base) + width <= size;
  }

  void AfterStep() override {
    FUZZ_CHECK(log_, bench_.faults().empty(), "port access without permission: %s",
               DescribeAccess(bench_.faults().front()).c_str());
    // Port access only while "\\.\kelvra" is held, and only at the PCI
    // configuration ports or the active board's two blocks.
    const auto& t = bench_.trace();
    if (!t.empty()) {
      FUZZ_CHECK(log_, portHeld_, "%s while \\\\.\\kelvra is not held", DescribeAccess(t[0]).c_str());
    }
    bool touched = false;
    for (const PortAccess& a : t) {
      if (a.port >= 0xCF8 && a.port + a.width <= 0xD00) continue;
      FUZZ_CHECK(log_,
                 selected_ && (InBlock(a.port, a.width, activeRow_.bridge, kBridgeBlock) ||
                               InBlock(a.port, a.width, activeRow_.io, kBoardBlock)),
                 "%s outside the configuration ports and the active board's blocks (0x%04X, 0x%04X)",
                 DescribeAccess(a).c_str(), activeRow_.bridge, activeRow_.io);
      touched = true;
    }
    FUZZ_CHECK(log_, touched == touchExpected_, "the active board was %sdriven", touched ? "" : "not ");
    // Handles: the model's, and another program's.
    FUZZ_CHECK(log_, bench_.badCloses() == 0, "a handle that was not open was closed");
    const daqsim::KernelDevice& kelvra = bench_.PortAccessDriver();
    FUZZ_CHECK(log_, kelvra.openHandles() == foreign_.On(kelvra.name()) + (portHeld_ ? 1u : 0u),
               "\\\\.\\kelvra has %u handles, the library should hold %u", kelvra.openHandles(), portHeld_ ? 1u : 0u);
    unsigned held = (portHeld_ ? 1u : 0u) + foreign_.total();
    for (unsigned n = 0; n < VarnoDriver::kDevices; ++n) {
      const VarnoDriver* d = Device(n);
      const unsigned mine = irqHeld_ && irqDevice_ == n ? 1u : 0u;
      held += mine;
      FUZZ_CHECK(log_, d->openHandles() == foreign_.On(d->name()) + mine, "VARNO%u has %u handles, the library should hold %u",
                 n, d->openHandles(), mine);
    }
    FUZZ_CHECK(log_, bench_.OpenHandleCount() == held, "%u handles open, %u expected", bench_.OpenHandleCount(), held);
    FUZZ_CHECK(log_, bench_.heap().outstanding() == 0, "a temporary buffer was left on the heap");
    // The words and counts of the devices.
    RecordInterruptControl();
    CatchUpStreams();
    for (unsigned n = 0; n < VarnoDriver::kDevices; ++n) {
      const DeviceModel& m = devices_[n];
      if (!m.exact) continue;
      VarnoDriver* d = Device(n);
      FUZZ_CHECK(log_, d->heldSamples() == m.words.size() && d->interruptCount() == m.count,
                 "VARNO%u holds %zu words and counted %u; from the board's log %zu and %u", n, d->heldSamples(),
                 d->interruptCount(), m.words.size(), m.count);
    }
  }

  std::vector<PciLocation> placed_;

  // The library's state as dremor.h describes it.
  bool portHeld_ = false, irqHeld_ = false;
  unsigned irqDevice_ = 0;
  bool everFound_ = false;
  std::vector<Row> table_;
  uint16_t active_ = 0;
  bool selected_ = false;
  Row activeRow_{};
  uint16_t code_ = 0;
  bool resetOwed_ = false, parkOwed_ = false;

  // The bench as the model follows it.
  unsigned allocFailures_ = 0;
  DeviceModel devices_[VarnoDriver::kDevices];
  std::map<MultifunctionBoard*, BoardTrack> tracks_;

  // How many of the first steps take their call from kPrologue.
  size_t prologue_ = 0;
  // The step in progress.
  uint64_t sleptMsBefore_ = 0;
  bool touchExpected_ = false;  // the step drives the active board
};

}  // namespace

size_t DremorFuzzOne(const uint8_t* data, size_t size) { return DremorRun(data, size).Run(); }

}  // namespace daqfuzz
