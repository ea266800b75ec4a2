// The Korvel model: what korvel.h promises, written as executable checks.
#include "fuzz_targets.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "daqsim/bench.h"
#include "fuzz_bench.h"
#include "fuzz_report.h"
#include "fuzz_source.h"
#include "korvel.h"
#include "library_api.h"
#include "library_run.h"
#include "slot_cast.h"

#if !defined(DAQ_KORVEL_FILE)
#error "the build defines DAQ_KORVEL_FILE"
#endif

namespace daqfuzz {
namespace {

DAQTEST_DEFINE_EXPORTS(KorvelExports, KORVEL_EXPORT_LIST);
using KorvelApi = daqtest::LibraryApi<KorvelExports>;

using daqsim::AccessDir;
using daqsim::Bench;
using daqsim::PciLocation;
using daqtest::Bits;
using daqtest::SlotCast;

// What an output holds before a call; on every failure it must still hold it.
constexpr uint16_t kCanary = 0xBEEF;

// The exports with every narrow argument a whole 32-bit slot (garbage above
// the stated width must not matter) and the result slot read whole.
using GetConfigSlots = uint32_t (*)(uint32_t, uint16_t*, uint16_t*, uint16_t*, uint16_t*, uint16_t*, uint16_t*,
                                    uint16_t*);
using OneSlot = uint32_t (*)(uint32_t);
using TwoSlotsVoid = void (*)(uint32_t, uint32_t);
using TwoSlots = uint32_t (*)(uint32_t, uint32_t);

// One row of the board table: the model code and the six base words.
struct Row {
  uint16_t kind;
  uint16_t base[6];
  bool operator==(const Row& o) const { return kind == o.kind && std::memcmp(base, o.base, sizeof base) == 0; }
};

// What the scan of korvel.h finds on the bench as it is now: buses 0-9,
// devices 0-31, function 0, either model of relay_board_map.h, in that order,
// at most 16; base words BARn AND 0xFFFE.
std::vector<Row> ScanOf(const Bench& bench) {
  std::vector<Row> rows;
  for (uint8_t bus = 0; bus < 10; ++bus) {
    for (uint8_t dev = 0; dev < 32; ++dev) {
      const daqsim::PciFunction* fn = bench.At(PciLocation{bus, dev, 0});
      if (!fn) continue;
      const uint32_t id = fn->ConfigDword(0);
      if ((id & 0xFFFF) != RELAY_PCI_VENDOR_ID) continue;
      const uint32_t device = id >> 16;
      if (device != KORVEL_PCI_DEVICE_ID && device != LUMAR_PCI_DEVICE_ID) continue;
      if (rows.size() == KORVEL_MAX_BOARDS) continue;
      Row row{};
      row.kind = device == KORVEL_PCI_DEVICE_ID ? RELAY_KIND_KORVEL : RELAY_KIND_LUMAR;
      for (unsigned i = 0; i < 6; ++i) row.base[i] = uint16_t(fn->ConfigDword(0x10 + 4 * i) & 0xFFFE);
      rows.push_back(row);
    }
  }
  return rows;
}

class KorvelRun : public LibraryRun<KorvelApi> {
 public:
  KorvelRun(const uint8_t* data, size_t size) : LibraryRun(data, size, DAQ_KORVEL_FILE, 400) {}

 private:
  // ---- The bench ----------------------------------------------------------------
  void BuildBench() override {
    RandomHost(in_, bench_, 20, log_);
    const unsigned boards = in_.Percent(10) ? 14 + in_.Below(8) : in_.Below(6);
    for (unsigned i = 0; i < boards; ++i) AddFunction();
    for (unsigned i = in_.Below(3); i > 0; --i) ChangeKelvra();
  }

  void AddFunction() {
    const PciLocation at = RandomSlot(in_);
    const unsigned what = in_.Below(10);
    daqsim::PciFunction* fn;
    if (what < 8) {
      const auto model = what < 5 ? daqsim::RelayModel::kKorvel : daqsim::RelayModel::kLumar;
      daqsim::RelayBoard& b =
          bench_.AddRelayBoard(model, at, RandomBoardBars(in_, bench_, 0x10), uint8_t(in_.Below(16)));
      b.SetInputs(in_.U16());
      fn = &b;
    } else if (what == 8) {
      fn = &bench_.AddMultifunctionBoard(at, RandomBoardBars(in_, bench_, 0x40), uint8_t(in_.Below(16)));
    } else {
      // Same vendor, a device the library does not drive.
      daqsim::PciIdentity id;
      id.vendorId = RELAY_PCI_VENDOR_ID;
      id.deviceId = in_.OneOf<uint16_t>({0x5C20, 0x5C23, 0x5C2A, 0x215C});
      fn = &bench_.Add(at, std::make_unique<daqsim::PciFunction>(id, RandomBoardBars(in_, bench_, 0x10), 11, 1));
    }
    placed_.push_back(at);
    log_.Add("bench: %04X:%04X at %u:%02u.%u", fn->ConfigDword(0) & 0xFFFF, fn->ConfigDword(0) >> 16, at.bus,
             at.device, at.function);
    MaybeOddConfig(in_, *fn, log_);
  }

  void RemoveFunction() {
    if (placed_.empty()) return;
    const size_t i = in_.Below(uint32_t(placed_.size()));
    const PciLocation at = placed_[i];
    placed_.erase(placed_.begin() + long(i));
    if (bench_.Remove(at)) log_.Add("bench: removed %u:%02u.%u", at.bus, at.device, at.function);
  }

  void ChangeKelvra() { ChangeKernelDevice(in_, bench_, bench_.PortAccessDriver(), foreign_, log_); }

  // The library's open of "\\.\kelvra" succeeds: installed, accepting, and
  // not held by another program when exclusive (its own handle it closed
  // first).
  bool KelvraOpens() const {
    const daqsim::KernelDevice& d = bench_.PortAccessDriver();
    return d.installed() && !d.refusesOpen() && !(d.exclusive() && foreign_.On(d.name()) > 0);
  }

  // ---- One step: a library call, or a change of the bench --------------------------
  bool Step(size_t) override {
    switch (in_.Below(20)) {
      case 0:
      case 1:
        DriverInit();
        return true;
      case 2:
      case 3:
        GetConfig();
        return true;
      case 4:
        ActiveBoard();
        return true;
      case 5:
        Which();
        return true;
      case 6:
        DriverClose();
        return true;
      case 7:
      case 8:
        RelayOut(true);
        return true;
      case 9:
        RelayIn(true);
        return true;
      case 10:
        RelayOut(false);
        return true;
      case 11:
        RelayIn(false);
        return true;
      case 12:
        Versions();
        return true;
      case 13:
        Arithmetic();
        return true;
      case 14:
      case 15:
        ChangeKelvra();
        return false;
      case 16:
        AddFunction();
        return false;
      case 17:
        RemoveFunction();
        return false;
      default:
        return ChangeInputs();
    }
  }

  bool ChangeInputs() {
    for (daqsim::PciFunction* fn : bench_.Functions()) {
      if (auto* b = dynamic_cast<daqsim::RelayBoard*>(fn)) b->SetInputs(in_.U16());
    }
    return false;
  }

  uint16_t BoardArg() {
    const uint16_t n = uint16_t(table_.size());
    return in_.Arg16({0, 1, 2, uint16_t(n - 1), n, uint16_t(n + 1), 15, 16, 17, 100, 0x7FFF, 0x8000, 0xFFFF});
  }

  // A port for the I/O exports: a board's registers, the configuration
  // ports, the ends of the port space, or any.
  uint16_t PortArg(bool korvel) {
    if (!table_.empty() && in_.Percent(60)) {
      const Row& r = table_[in_.Below(uint32_t(table_.size()))];
      return uint16_t(r.base[2] + in_.OneOf<uint16_t>({0, 1, 2, 3, 0xF, uint16_t(korvel ? 2 : 1)}));
    }
    return in_.Arg16({0xCF8, 0xCFC, 0xCFE, 0xCFF, 0, 0x80, 0xFFFE, 0xFFFF});
  }

  // ---- The calls --------------------------------------------------------------------
  void DriverInit() {
    uint16_t count = kCanary;
    const uint16_t status = api_.PCI_DriverInit(&count);
    Count("PCI_DriverInit", status);
    log_.Add("PCI_DriverInit -> %u, count %u", status, count);
    // The old handle goes first; then the open.
    held_ = false;
    if (!KelvraOpens()) {
      FUZZ_CHECK(log_, status == KORVEL_ERR_NO_DRIVER, "PCI_DriverInit: the open must fail with 1, not %u", status);
      FUZZ_CHECK(log_, count == kCanary, "PCI_DriverInit: count written on status 1");
      FUZZ_CHECK(log_, bench_.trace().empty(), "PCI_DriverInit: port access without the driver");
      return;
    }
    held_ = true;
    Rescan();
    FUZZ_CHECK(log_, status == (table_.empty() ? KORVEL_ERR_NO_BOARD : KORVEL_OK),
               "PCI_DriverInit: status %u with %zu boards on the bus", status, table_.size());
    FUZZ_CHECK(log_, count == table_.size(), "PCI_DriverInit: count %u, the bus has %zu", count, table_.size());
    OnlyConfigPorts("PCI_DriverInit");
  }

  void Rescan() {
    table_ = ScanOf(bench_);
    if (!table_.empty()) everFound_ = true;
  }

  void GetConfig() {
    const uint32_t slot = BoardArg() | in_.Garbage(16);
    const uint16_t board = uint16_t(slot);
    uint16_t out[7];
    for (uint16_t& w : out) w = kCanary;
    const uint16_t status = uint16_t(SlotCast<GetConfigSlots>(api_.PCI_GetConfigAddressSpace)(
        slot, &out[0], &out[1], &out[2], &out[3], &out[4], &out[5], &out[6]));
    Count("PCI_GetConfigAddressSpace", status);
    log_.Add("PCI_GetConfigAddressSpace(0x%08X) -> %u, kind %u, base %04X %04X %04X %04X %04X %04X", slot, status,
             out[0], out[1], out[2], out[3], out[4], out[5], out[6]);
    uint16_t want = KORVEL_OK;
    if (!everFound_) {
      // The lazy scan, only while the driver is held.
      if (held_) Rescan();
      if (!everFound_) want = KORVEL_ERR_LAZY_NO_BOARD;
    }
    if (want == KORVEL_OK && board >= table_.size()) want = KORVEL_ERR_BOARD_RANGE;
    FUZZ_CHECK(log_, status == want, "PCI_GetConfigAddressSpace: status %u, the contract says %u", status, want);
    if (status == KORVEL_OK) {
      const Row& r = table_[board];
      FUZZ_CHECK(log_, out[0] == r.kind, "PCI_GetConfigAddressSpace: kind %u, the board is %u", out[0], r.kind);
      for (unsigned i = 0; i < 6; ++i) {
        FUZZ_CHECK(log_, out[1 + i] == r.base[i], "PCI_GetConfigAddressSpace: base%u 0x%04X, BAR%u AND 0xFFFE is 0x%04X",
                   i, out[1 + i], i, r.base[i]);
      }
    } else {
      for (uint16_t w : out) FUZZ_CHECK(log_, w == kCanary, "PCI_GetConfigAddressSpace: output written on failure");
    }
    OnlyConfigPorts("PCI_GetConfigAddressSpace");
  }

  void ActiveBoard() {
    const uint32_t slot = BoardArg() | in_.Garbage(16);
    const uint16_t board = uint16_t(slot);
    const uint16_t status = uint16_t(SlotCast<OneSlot>(api_.PCI_ActiveBoard)(slot));
    log_.Add("PCI_ActiveBoard(0x%08X) -> %u", slot, status);
    Count("PCI_ActiveBoard", status);
    const uint16_t want = board < table_.size() ? KORVEL_OK : KORVEL_ERR_BOARD_RANGE;
    FUZZ_CHECK(log_, status == want, "PCI_ActiveBoard: status %u, the contract says %u", status, want);
    if (status == KORVEL_OK) active_ = board;
    FUZZ_CHECK(log_, bench_.trace().empty(), "PCI_ActiveBoard: a port access");
  }

  void Which() {
    const uint16_t got = api_.PCI_WhichBoardActive();
    log_.Add("PCI_WhichBoardActive -> %u", got);
    FUZZ_CHECK(log_, got == active_, "PCI_WhichBoardActive: %u, last accepted %u", got, active_);
  }

  void DriverClose() {
    const int got = api_.PCI_DriverClose();
    log_.Add("PCI_DriverClose -> %d", got);
    Count("PCI_DriverClose", got != 0);
    FUZZ_CHECK(log_, (got != 0) == held_, "PCI_DriverClose: %d while the driver was %sheld", got, held_ ? "" : "not ");
    held_ = false;
  }

  static void Count(const char* what, unsigned status) {
    if (Stats::on()) Stats::Count(std::string(what) + " -> " + std::to_string(status));
  }

  // One port access of the stated width while the driver is held, none
  // otherwise.
  // (`value` is checked for writes; a read returns what the port gave.)
  void ExpectOneAccess(const char* what, AccessDir dir, unsigned width, uint16_t port, uint32_t value) {
    const auto& t = bench_.trace();
    if (!held_) {
      FUZZ_CHECK(log_, t.empty(), "%s: port access without the driver", what);
      return;
    }
    FUZZ_CHECK(log_, t.size() == 1, "%s: %zu port accesses, one expected", what, t.size());
    // A 16-bit access at 0xFFFF reaches past the port space: the Linux
    // kernel's grant cannot cover it, and the CPU refuses it. That is the
    // caller's port, not the library's doing.
    if (bench_.host() == Bench::Host::kLinux && port + width > 0x10000u) {
      FUZZ_CHECK(log_, bench_.faults().size() == 1 && bench_.faults()[0].port == port,
                 "%s: the access past 0xFFFF should be the one fault", what);
      bench_.ClearFaults();
    }
    FUZZ_CHECK(log_,
               t[0].dir == dir && t[0].width == width && t[0].port == port &&
                   (dir == AccessDir::kRead || t[0].value == value),
               "%s: %s, expected a %u-bit %s at 0x%04X of 0x%X", what, DescribeAccess(t[0]).c_str(), width * 8,
               dir == AccessDir::kRead ? "read" : "write", port, value);
  }

  void RelayOut(bool korvel) {
    const uint16_t port = PortArg(korvel);
    const uint32_t portSlot = port | in_.Garbage(16);
    const uint16_t pattern = korvel ? in_.U16() : in_.U8();
    const uint32_t patternSlot = pattern | in_.Garbage(korvel ? 16 : 8);
    SlotCast<TwoSlotsVoid>(korvel ? reinterpret_cast<void (*)()>(api_.KORVEL_DO)
                                  : reinterpret_cast<void (*)()>(api_.LUMAR_DO))(portSlot, patternSlot);
    log_.Add("%s(0x%08X, 0x%08X)", korvel ? "KORVEL_DO" : "LUMAR_DO", portSlot, patternSlot);
    Count(korvel ? "KORVEL_DO, accesses" : "LUMAR_DO, accesses", unsigned(bench_.trace().size()));
    ExpectOneAccess(korvel ? "KORVEL_DO" : "LUMAR_DO", AccessDir::kWrite, korvel ? 2 : 1, port, pattern);
  }

  void RelayIn(bool korvel) {
    const uint16_t port = PortArg(korvel);
    const uint32_t portSlot = port | in_.Garbage(16);
    const uint32_t mask = korvel ? 0xFFFF : 0xFF;
    const uint32_t got =
        SlotCast<OneSlot>(korvel ? reinterpret_cast<void (*)()>(api_.KORVEL_DI)
                                 : reinterpret_cast<void (*)()>(api_.LUMAR_DI))(portSlot) & mask;
    log_.Add("%s(0x%08X) -> 0x%X", korvel ? "KORVEL_DI" : "LUMAR_DI", portSlot, got);
    const char* what = korvel ? "KORVEL_DI" : "LUMAR_DI";
    if (!held_) {
      FUZZ_CHECK(log_, got == mask, "%s: 0x%X without the driver, all ones expected", what, got);
    } else if (bench_.trace().size() == 1) {
      FUZZ_CHECK(log_, got == bench_.trace()[0].value, "%s: returned 0x%X, the port read 0x%X", what, got,
                 bench_.trace()[0].value);
    }
    Count(korvel ? "KORVEL_DI, accesses" : "LUMAR_DI, accesses", unsigned(bench_.trace().size()));
    ExpectOneAccess(what, AccessDir::kRead, korvel ? 2 : 1, port, 0);
  }

  void Versions() {
    const uint16_t dll = api_.PCI_GetDllVersion();
    uint16_t driver = kCanary;
    const uint16_t status = api_.PCI_GetDriverVersion(&driver);
    log_.Add("PCI_GetDllVersion -> 0x%04X; PCI_GetDriverVersion -> %u, 0x%04X", dll, status, driver);
    FUZZ_CHECK(log_, dll == KORVEL_DLL_VERSION, "PCI_GetDllVersion: 0x%04X", dll);
    FUZZ_CHECK(log_, status == KORVEL_OK && driver == KORVEL_DRIVER_VERSION, "PCI_GetDriverVersion: %u, 0x%04X",
               status, driver);
    FUZZ_CHECK(log_, bench_.trace().empty() && bench_.ioControls().empty(), "the versions contact nothing");
  }

  void Arithmetic() {
    float a, b;
    const uint32_t ab = in_.U32(), bb = in_.U32();
    std::memcpy(&a, &ab, 4);
    std::memcpy(&b, &bb, 4);
    const float got = api_.PCI_FloatSub2(a, b);
    const float want = a - b;
    FUZZ_CHECK(log_, std::isnan(want) ? std::isnan(got) : Bits(got) == Bits(want),
               "PCI_FloatSub2(0x%08X, 0x%08X) = 0x%08X, a - b is 0x%08X", ab, bb, Bits(got), Bits(want));
    const uint32_t x = in_.U32(), y = in_.U32();
    const uint16_t diff = uint16_t(SlotCast<TwoSlots>(api_.PCI_ShortSub2)(x, y));
    FUZZ_CHECK(log_, diff == uint16_t(x - y), "PCI_ShortSub2(0x%08X, 0x%08X) = 0x%04X", x, y, diff);
    log_.Add("PCI_FloatSub2, PCI_ShortSub2");
  }

  // ---- After every step -----------------------------------------------------------
  void OnlyConfigPorts(const char* what) {
    for (const daqsim::PortAccess& a : bench_.trace()) {
      FUZZ_CHECK(log_, a.port >= 0xCF8 && a.port + a.width <= 0xD00, "%s: %s outside the PCI configuration ports",
                 what, DescribeAccess(a).c_str());
    }
  }

  void AfterStep() override {
    FUZZ_CHECK(log_, bench_.faults().empty(), "port access without permission: %s",
               DescribeAccess(bench_.faults().front()).c_str());
    FUZZ_CHECK(log_, bench_.badCloses() == 0, "a handle that was not open was closed");
    const unsigned kelvra = bench_.PortAccessDriver().openHandles();
    FUZZ_CHECK(log_, kelvra == foreign_.On(bench_.PortAccessDriver().name()) + (held_ ? 1u : 0u),
               "\\\\.\\kelvra has %u handles; the library should hold %u", kelvra, held_ ? 1u : 0u);
    FUZZ_CHECK(log_, bench_.OpenHandleCount() == foreign_.total() + (held_ ? 1u : 0u), "%u handles open",
               bench_.OpenHandleCount());
    FUZZ_CHECK(log_, bench_.heap().outstanding() == 0, "heap blocks left");
  }

  // The library's state as korvel.h describes it.
  bool held_ = false;
  bool everFound_ = false;
  std::vector<Row> table_;
  std::vector<PciLocation> placed_;  // functions placed, for removals
  uint16_t active_ = KORVEL_NO_ACTIVE_BOARD;
};

}  // namespace

size_t KorvelFuzzOne(const uint8_t* data, size_t size) { return KorvelRun(data, size).Run(); }

}  // namespace daqfuzz
