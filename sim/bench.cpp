#include "daqsim/bench.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "board_layout.h"
#include "bytes.h"
#include "daqsim/machine.h"

namespace daqsim {
namespace {

constexpr uint16_t kConfigAddressPort = 0x0CF8;
constexpr uint16_t kConfigDataPort = 0x0CFC;
constexpr uint32_t kConfigEnable = 0x80000000u;

// First handle value handed out; like a Windows handle table the bench gives
// the lowest free value, so a closed handle's value soon belongs to another
// object, which is what makes a stale close dangerous.
constexpr uintptr_t kFirstHandle = 0x100;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

// Devices of a PC that are not boards. Fictional vendor ID, real class codes.
constexpr uint16_t kStockVendor = 0x1DB0;

PciIdentity Stock(uint16_t deviceId, uint32_t classCode) {
  PciIdentity id;
  id.vendorId = kStockVendor;
  id.deviceId = deviceId;
  id.classCode = classCode;
  return id;
}

}  // namespace

Bench& Bench::Instance() {
  static Bench bench;
  return bench;
}

Bench::Bench() { Reset(); }

void Bench::Reset() {
  clock_.Reset();
  functions_.clear();
  ++decodeGeneration_;
  configAddress_ = 0;
  nextIoTop_ = 0xF000;
  nextMemory_ = 0xFEBF0000;
  nextIrq_ = 0;
  handles_.clear();
  devices_.clear();
  portAccess_ = &AddKernelDevice(std::make_unique<KernelDevice>(kPortAccessDeviceName));
  opens_.clear();
  ioControls_.clear();
  badCloses_ = 0;
  traceEnabled_ = true;
  trace_.clear();
  faults_.clear();
  portAccessCount_ = 0;
  sleepCalls_ = 0;
  sleptMs_ = 0;
  heap_ = HeapStats{};
  failAllocations_ = 0;
}

// ---- PCI bus -------------------------------------------------------------------

void Bench::Place(PciLocation at, std::unique_ptr<PciFunction> function) {
  function->AttachClock(&clock_);
  function->AttachDecodeGeneration(&decodeGeneration_);
  functions_[at.Key()] = std::move(function);
  ++decodeGeneration_;
  UpdateMultiFunctionBits();
}

bool Bench::Remove(PciLocation at) {
  const bool removed = functions_.erase(at.Key()) > 0;
  ++decodeGeneration_;
  UpdateMultiFunctionBits();
  return removed;
}

void Bench::UpdateMultiFunctionBits() {
  // Function 0 of a device announces further functions in its header type.
  for (auto& [key, fn] : functions_) {
    if ((key & 7) != 0) continue;
    bool more = false;
    for (uint32_t f = 1; f < 8; ++f) more = more || functions_.count(key | f) > 0;
    fn->SetMultiFunction(more);
  }
}

PciFunction* Bench::At(PciLocation at) const {
  auto it = functions_.find(at.Key());
  return it == functions_.end() ? nullptr : it->second.get();
}

std::vector<PciFunction*> Bench::Functions() const {
  std::vector<PciFunction*> out;
  for (auto& entry : functions_) out.push_back(entry.second.get());
  return out;
}

uint16_t Bench::AllocateIo(uint32_t size) {
  nextIoTop_ = (nextIoTop_ - size) & ~(size - 1);
  return uint16_t(nextIoTop_);
}

RelayBoard& Bench::AddRelayBoard(RelayModel model, PciLocation at) {
  BarSet bars;
  bars[layout::kBridgeMemoryBar] = Bar::Memory(nextMemory_, layout::kBridgeMemorySize);
  nextMemory_ -= 0x1000;
  bars[layout::kBridgeIoBar] = Bar::Io(AllocateIo(layout::kBridgeIoSize), layout::kBridgeIoSize);
  bars[layout::kBoardBlockBar] = Bar::Io(AllocateIo(layout::kRelayBlockSize), layout::kRelayBlockSize);
  static constexpr uint8_t kIrqs[] = {11, 10, 5, 9};
  const uint8_t irq = kIrqs[nextIrq_++ % 4];
  return AddRelayBoard(model, at, bars, irq);
}

RelayBoard& Bench::AddRelayBoard(RelayModel model, PciLocation at, const BarSet& bars, uint8_t irq) {
  return Add(at, std::make_unique<RelayBoard>(model, bars, irq));
}

void Bench::AddStockPcDevices() {
  const BarSet none{};
  Add(PciLocation{0, 0, 0}, std::make_unique<PciFunction>(Stock(0x0001, 0x060000), none, 0, 0));
  // ISA bridge, IDE controller and USB controller: one device, three functions.
  Add(PciLocation{0, 1, 0}, std::make_unique<PciFunction>(Stock(0x0002, 0x060100), none, 0, 0));
  BarSet ide{};
  ide[4] = Bar::Io(AllocateIo(0x10), 0x10);
  Add(PciLocation{0, 1, 1}, std::make_unique<PciFunction>(Stock(0x0003, 0x01018A), ide, 0, 0));
  BarSet usb{};
  usb[4] = Bar::Io(AllocateIo(0x20), 0x20);
  Add(PciLocation{0, 1, 2}, std::make_unique<PciFunction>(Stock(0x0004, 0x0C0300), usb, 9, 4));
  BarSet vga{};
  vga[0] = Bar::Memory(0xFD000000, 0x1000000);
  vga[1] = Bar::Memory(0xFEB00000, 0x1000);
  Add(PciLocation{0, 2, 0}, std::make_unique<PciFunction>(Stock(0x0005, 0x030000), vga, 0, 0));
  BarSet nic{};
  nic[0] = Bar::Memory(0xFEA00000, 0x20000);
  nic[1] = Bar::Io(AllocateIo(0x40), 0x40);
  Add(PciLocation{0, 3, 0}, std::make_unique<PciFunction>(Stock(0x0006, 0x020000), nic, 11, 1));
  Add(PciLocation{0, 30, 0}, std::make_unique<PciFunction>(Stock(0x0007, 0x060400), none, 0, 0));
}

// ---- Kernel devices ----------------------------------------------------------------

KernelDevice& Bench::AddKernelDevice(std::unique_ptr<KernelDevice> device) {
  KernelDevice& ref = *device;
  const std::string key = Lower(device->name());
  auto old = devices_.find(key);
  if (old != devices_.end()) {
    for (auto it = handles_.begin(); it != handles_.end();) {
      it = it->second == old->second.get() ? handles_.erase(it) : std::next(it);
    }
  }
  devices_[key] = std::move(device);
  if (key == Lower(kPortAccessDeviceName)) portAccess_ = &ref;
  return ref;
}

KernelDevice* Bench::FindKernelDevice(const std::string& name) const {
  auto it = devices_.find(Lower(name));
  return it == devices_.end() ? nullptr : it->second.get();
}

uintptr_t Bench::OpenDevice(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                            uint32_t creationDisposition, uint32_t flagsAndAttributes) {
  OpenRecord rec{name ? name : "", desiredAccess, shareMode, creationDisposition, flagsAndAttributes,
                 kInvalidHandle};
  KernelDevice* dev = name ? FindKernelDevice(name) : nullptr;
  const bool sharingViolation = dev && dev->exclusive() && dev->openHandles_ > 0;
  if (dev && dev->installed() && !dev->refusesOpen() && !sharingViolation) {
    uintptr_t h = kFirstHandle;
    while (handles_.count(h)) h += 4;
    handles_[h] = dev;
    ++dev->openHandles_;
    ++dev->totalOpens_;
    rec.result = h;
  }
  opens_.push_back(rec);
  return rec.result;
}

int32_t Bench::CloseHandle(uintptr_t handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    ++badCloses_;
    return 0;
  }
  --it->second->openHandles_;
  handles_.erase(it);
  return 1;
}

int32_t Bench::DeviceIoControl(uintptr_t handle, uint32_t code, void* in, uint32_t inSize, void* out,
                               uint32_t outSize, uint32_t* bytesReturned) {
  auto it = handles_.find(handle);
  IoControlRecord rec{handle, "", code, inSize, outSize, false};
  uint32_t returned = 0;
  if (it != handles_.end()) {
    rec.device = it->second->name();
    rec.ok = it->second->IoControl(code, in, inSize, out, outSize, &returned);
  }
  if (bytesReturned) *bytesReturned = rec.ok ? returned : 0;
  ioControls_.push_back(rec);
  return rec.ok ? 1 : 0;
}

// ---- Time and heap ------------------------------------------------------------------

void Bench::Sleep(uint32_t milliseconds) {
  ++sleepCalls_;
  sleptMs_ += milliseconds;
  if (clock_.realTime()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  } else {
    clock_.Advance(uint64_t(milliseconds) * 1000000u);
  }
}

void* Bench::HeapAlloc(size_t bytes) {
  if (failAllocations_ > 0) {
    --failAllocations_;
    ++heap_.refused;
    return nullptr;
  }
  void* block = std::malloc(bytes ? bytes : 1);
  if (block) ++heap_.allocations;
  return block;
}

void Bench::HeapFree(void* block) {
  if (!block) return;
  ++heap_.releases;
  std::free(block);
}

// ---- Port I/O --------------------------------------------------------------------------

void Bench::Record(AccessDir dir, uint16_t port, unsigned width, uint32_t value, const char* reg,
                   bool faulted) {
  const PortAccess a{dir, uint8_t(width), port, value, clock_.NowNs(), reg, faulted};
  ++portAccessCount_;
  if (traceEnabled_) trace_.push_back(a);
  if (faulted) faults_.push_back(a);
  clock_.Advance(Clock::kIoCycleNs);
}

PciFunction* Bench::DecodeIo(uint16_t port, int* bar, uint32_t* offset) const {
  if (ioWindowsGeneration_ != decodeGeneration_) {
    // Bus order, so that of two overlapping windows the first function wins.
    ioWindows_.clear();
    for (auto& entry : functions_) {
      for (int i = 0; i < 6; ++i) {
        const Bar b = entry.second->bar(i);
        if (b.kind == Bar::Kind::kIo) ioWindows_.push_back(IoWindow{b.base, b.size, entry.second.get(), i});
      }
    }
    ioWindowsGeneration_ = decodeGeneration_;
  }
  for (const IoWindow& w : ioWindows_) {
    if (port < w.base || port - w.base >= w.size) continue;
    *bar = w.bar;
    *offset = port - w.base;
    return w.function;
  }
  return nullptr;
}

uint32_t Bench::ConfigRead(uint16_t port, unsigned width) const {
  // The data window 0xCFC-0xCFF shows the selected dword; a read at offset k
  // of the window returns its bytes k, k + 1, ... Bytes beyond the window,
  // a clear enable bit or an empty slot float high.
  PciFunction* fn = nullptr;
  if (configAddress_ & kConfigEnable) {
    const PciLocation at{uint8_t(configAddress_ >> 16), uint8_t((configAddress_ >> 11) & 0x1F),
                         uint8_t((configAddress_ >> 8) & 7)};
    fn = At(at);
  }
  uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const unsigned lane = port - kConfigDataPort + i;
    uint8_t byte = 0xFF;
    if (fn && lane < 4) byte = fn->ConfigByte((configAddress_ & 0xFC) + lane);
    value |= uint32_t(byte) << (8 * i);
  }
  return value;
}

void Bench::ConfigWrite(uint16_t port, unsigned width, uint32_t value) {
  if (!(configAddress_ & kConfigEnable)) return;
  const PciLocation at{uint8_t(configAddress_ >> 16), uint8_t((configAddress_ >> 11) & 0x1F),
                       uint8_t((configAddress_ >> 8) & 7)};
  PciFunction* fn = At(at);
  const unsigned lane = port - kConfigDataPort;
  if (!fn || lane + width > 4) return;
  fn->ConfigWrite((configAddress_ & 0xFC) + lane, width, value);
}

uint32_t Bench::PortRead(uint16_t port, unsigned width) {
  if (!PortAccessGranted()) {
    Record(AccessDir::kRead, port, width, AllOnes(width), nullptr, true);
    return AllOnes(width);
  }
  uint32_t value;
  const char* reg = nullptr;
  if (port == kConfigAddressPort && width == 4) {
    value = configAddress_;
    reg = "PciConfigAddress";
  } else if (port >= kConfigDataPort && port < kConfigDataPort + 4) {
    value = ConfigRead(port, width);
    reg = "PciConfigData";
  } else {
    int bar = 0;
    uint32_t offset = 0;
    PciFunction* fn = DecodeIo(port, &bar, &offset);
    value = fn ? fn->IoRead(bar, offset, width) & AllOnes(width) : AllOnes(width);
    if (fn) reg = fn->RegisterName(bar, offset, false);
  }
  Record(AccessDir::kRead, port, width, value, reg, false);
  return value;
}

void Bench::PortWrite(uint16_t port, unsigned width, uint32_t value) {
  value &= AllOnes(width);
  if (!PortAccessGranted()) {
    Record(AccessDir::kWrite, port, width, value, nullptr, true);
    return;
  }
  const char* reg = nullptr;
  if (port == kConfigAddressPort && width == 4) {
    // Only a full dword write reaches the address latch; byte writes at
    // 0xCF8-0xCFB belong to other chipset registers.
    configAddress_ = value;
    reg = "PciConfigAddress";
  } else if (port >= kConfigDataPort && port < kConfigDataPort + 4) {
    ConfigWrite(port, width, value);
    reg = "PciConfigData";
  } else {
    int bar = 0;
    uint32_t offset = 0;
    if (PciFunction* fn = DecodeIo(port, &bar, &offset)) {
      reg = fn->RegisterName(bar, offset, true);
      Record(AccessDir::kWrite, port, width, value, reg, false);
      fn->IoWrite(bar, offset, width, value);
      return;
    }
  }
  Record(AccessDir::kWrite, port, width, value, reg, false);
}

}  // namespace daqsim

// ---- The C entry points of the simulated backend ------------------------------------

using daqsim::Bench;

uint32_t DaqSimPortRead(uint16_t port, unsigned width) { return Bench::Instance().PortRead(port, width); }

void DaqSimPortWrite(uint16_t port, unsigned width, uint32_t value) {
  Bench::Instance().PortWrite(port, width, value);
}

uintptr_t DaqSimCreateFile(const char* name, uint32_t desiredAccess, uint32_t shareMode,
                           uint32_t creationDisposition, uint32_t flagsAndAttributes) {
  return Bench::Instance().OpenDevice(name, desiredAccess, shareMode, creationDisposition,
                                      flagsAndAttributes);
}

int32_t DaqSimCloseHandle(uintptr_t handle) { return Bench::Instance().CloseHandle(handle); }

int32_t DaqSimDeviceIoControl(uintptr_t handle, uint32_t code, void* in, uint32_t inSize, void* out,
                              uint32_t outSize, uint32_t* bytesReturned) {
  return Bench::Instance().DeviceIoControl(handle, code, in, inSize, out, outSize, bytesReturned);
}

void DaqSimSleep(uint32_t milliseconds) { Bench::Instance().Sleep(milliseconds); }

void* DaqSimHeapAlloc(size_t bytes) { return Bench::Instance().HeapAlloc(bytes); }

void DaqSimHeapFree(void* block) { Bench::Instance().HeapFree(block); }
