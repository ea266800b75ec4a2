#include "daqsim/varno_driver.h"

#include <algorithm>
#include <cstring>

#include "bytes.h"
#include "daqsim/bounded_record.h"
#include "daqsim/pci_bus.h"
#include "dremor/varno_ioctl.h"

namespace daqsim {

// The driver's device names, written independently of the library's (see
// board_layout.h).
std::string VarnoDriver::DeviceName(unsigned board) { return "\\\\.\\VARNO" + std::to_string(board); }

VarnoDriver::VarnoDriver(unsigned board, const PciBus& bus)
    : KernelDevice(DeviceName(board)), board_(board), bus_(bus) {
  SetExclusive(true);
}

VarnoDriver::~VarnoDriver() {
  if (bound_ && bound_->interruptSink() == this) bound_->ConnectInterrupt(nullptr);
}

void VarnoDriver::FailRequest(uint32_t code, bool fail) {
  if (fail) {
    failing_.insert(code);
  } else {
    failing_.erase(code);
  }
}

void VarnoDriver::SetRecordLimit(size_t limit) {
  recordLimit_ = limit;
  TrimToBound(requests_, limit);
}

void VarnoDriver::LoseInterrupts(unsigned everyNth) {
  CatchUp();  // interrupts due before now were serviced normally
  loseEvery_ = everyNth;
  seen_ = 0;
}

std::optional<VarnoDriver::IrqResources> VarnoDriver::resources() const {
  if (!resources_) return std::nullopt;
  const uint8_t* p = resources_->data();
  return IrqResources{Get32(p), Get32(p + 4), Get32(p + 8), Get32(p + 12)};
}

// ---- The acquisition -------------------------------------------------------------------

void VarnoDriver::CatchUp() {
  if (bound_) bound_->Synchronize();
}

void VarnoDriver::SetCapacity(size_t samples) {
  CatchUp();
  capacity_ = samples ? samples : 1;
  ring_.clear();
  ring_.shrink_to_fit();
  head_ = held_ = 0;
}

void VarnoDriver::Keep(uint16_t word) {
  ++interruptCount_;
  if (held_ == capacity_) {
    ++overruns_;
    return;
  }
  if (ring_.empty()) ring_.resize(capacity_);
  size_t tail = head_ + held_;
  if (tail >= capacity_) tail -= capacity_;
  ring_[tail] = word;
  ++held_;
}

void VarnoDriver::InjectSamples(const std::vector<uint16_t>& words) {
  CatchUp();  // interrupts due before now come first
  for (uint16_t w : words) Keep(w);
}

// The service routine: read AdData (the word of the conversion that raised
// the interrupt, all 16 bits), count the interrupt, keep the word.
void VarnoDriver::ServiceInterrupt(MultifunctionBoard& board, const AdConversion& conversion) {
  if (&board != bound_ || !armed_) return;
  ++seen_;
  if (loseEvery_ != 0 && seen_ % loseEvery_ == 0) {
    ++lost_;
    return;
  }
  Keep(conversion.word);
}

void VarnoDriver::Disconnected(MultifunctionBoard& board) {
  if (&board == bound_) bound_ = nullptr;
}

void VarnoDriver::Bind(MultifunctionBoard* board) {
  if (bound_ != board && bound_ && bound_->interruptSink() == this) bound_->ConnectInterrupt(nullptr);
  bound_ = board;
  board->ConnectInterrupt(this);
}

// ---- Requests --------------------------------------------------------------------------

bool VarnoDriver::IoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                            uint32_t* bytesReturned) {
  uint32_t returned = 0;
  const bool ok = !failAll_ && !failing_.count(code) && Serve(code, in, inSize, out, outSize, &returned);
  if (bytesReturned) *bytesReturned = ok ? returned : 0;
  AppendBounded(requests_, Request{code, inSize, outSize, ok}, recordLimit_);
  return ok;
}

// The multifunction board the record names: BAR1 and BAR2 bases and the
// interrupt line all equal; nullptr when the bus has none.
MultifunctionBoard* VarnoDriver::FindBoard(uint32_t bridgeBase, uint32_t ioBase, uint32_t irq) const {
  for (PciFunction* fn : bus_.Functions()) {
    auto* board = dynamic_cast<MultifunctionBoard*>(fn);
    if (board && board->BridgeBase() == bridgeBase && board->IoBase() == ioBase &&
        board->interruptLine() == irq) {
      return board;
    }
  }
  return nullptr;
}

// A buffered driver sees exactly the sizes the caller gave; anything but the
// request's own sizes (or a missing buffer) fails before anything is taken.
bool VarnoDriver::Serve(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                        uint32_t* bytesReturned) {
  const auto input = [&](uint32_t size) { return inSize == size && (size == 0 || in != nullptr); };
  const auto output = [&](uint32_t size) { return outSize == size && (size == 0 || out != nullptr); };
  const uint8_t* src = static_cast<const uint8_t*>(in);
  uint8_t* dst = static_cast<uint8_t*>(out);
  switch (code) {
    case IOCTL_VARNO_IRQ_USER_VALUE: {
      if (!input(VARNO_USER_VALUE_SIZE) || !output(0)) return false;
      std::array<uint8_t, 4> v;
      std::memcpy(v.data(), src, v.size());
      userValue_ = v;
      return true;
    }
    case IOCTL_VARNO_IRQ_RESOURCES: {
      if (!input(VARNO_IRQ_RESOURCES_SIZE) || !output(0)) return false;
      MultifunctionBoard* board = FindBoard(Get32(src), Get32(src + 4), Get32(src + 8));
      if (!board) return false;
      std::array<uint8_t, 16> r;
      std::memcpy(r.data(), src, r.size());
      resources_ = r;
      Bind(board);
      board->Synchronize();  // what finished before the binding is not ours
      armed_ = true;
      interruptCount_ = 0;
      overruns_ = lost_ = seen_ = 0;
      head_ = held_ = 0;
      return true;
    }
    case IOCTL_VARNO_READ_SAMPLES: {
      if (!input(VARNO_SAMPLE_COUNT_SIZE)) return false;
      const uint32_t n = Get32(src);
      if (uint64_t(outSize) != 2 * uint64_t(n) || (n != 0 && out == nullptr)) return false;
      CatchUp();
      if (n > held_) return false;
      // Oldest first: up to the end of the ring, then from its start.
      const size_t first = std::min<size_t>(n, capacity_ - head_);
      if (HostIsLittleEndian()) {
        if (first) std::memcpy(dst, &ring_[head_], 2 * first);
        if (n > first) std::memcpy(dst + 2 * first, &ring_[0], 2 * (n - first));
      } else {
        for (uint32_t i = 0; i < n; ++i) Put16(dst + 2 * i, ring_[(head_ + i) % capacity_]);
      }
      head_ = held_ == n ? 0 : (head_ + n) % capacity_;  // n <= held_ <= capacity_
      held_ -= n;
      *bytesReturned = outSize;
      return true;
    }
    case IOCTL_VARNO_STOP:
      if (!input(0) || !output(0)) return false;
      CatchUp();  // the interrupts up to now were serviced
      armed_ = false;
      ++stops_;
      return true;
    case IOCTL_VARNO_GET_INT_COUNT:
      if (!input(0) || !output(VARNO_INT_COUNT_SIZE)) return false;
      CatchUp();
      Put32(dst, interruptCount_);
      *bytesReturned = VARNO_INT_COUNT_SIZE;
      return true;
    case IOCTL_VARNO_GET_VERSION:
      if (!input(0) || !output(VARNO_VERSION_SIZE)) return false;
      Put16(dst, version_);
      *bytesReturned = VARNO_VERSION_SIZE;
      return true;
    default:
      return false;
  }
}

}  // namespace daqsim
