#include "daqsim/pci.h"

#include "bytes.h"

namespace daqsim {
namespace {

constexpr unsigned kBar0 = 0x10;
constexpr unsigned kCommand = 0x04;
constexpr unsigned kHeaderType = 0x0E;
constexpr unsigned kInterruptLine = 0x3C;

}  // namespace

PciFunction::PciFunction(const PciIdentity& identity, const BarSet& bars, uint8_t interruptLine,
                         uint8_t interruptPin)
    : identity_(identity), bars_(bars) {
  Put32(&config_[0x00], uint32_t(identity.deviceId) << 16 | identity.vendorId);
  Put32(&config_[0x04], 0x02800003u);  // status: fast back-to-back, medium DEVSEL; I/O + memory on
  Put32(&config_[0x08], identity.classCode << 8 | identity.revision);
  Put32(&config_[0x2C], uint32_t(identity.subsystemId) << 16 | identity.subsystemVendorId);
  for (int i = 0; i < 6; ++i) StoreBar(i, bars[i].base);
  config_[kInterruptLine] = interruptLine;
  config_[0x3D] = interruptPin;
}

void PciFunction::StoreBar(int index, uint32_t raw) {
  const Bar& b = bars_[index];
  uint32_t value = 0;
  if (b.kind == Bar::Kind::kIo) {
    value = (raw & ~(b.size - 1) & ~3u) | 1u;
  } else if (b.kind == Bar::Kind::kMemory) {
    value = raw & ~(b.size - 1) & ~0xFu;
  }
  Put32(&config_[kBar0 + 4 * unsigned(index)], value);
  if (decodeGeneration_) ++*decodeGeneration_;
}

Bar PciFunction::bar(int index) const {
  Bar b = bars_[index];
  const uint32_t raw = ConfigDword(kBar0 + 4 * unsigned(index));
  b.base = b.kind == Bar::Kind::kIo ? (raw & ~3u) : (raw & ~0xFu);
  return b;
}

uint32_t PciFunction::ConfigDword(unsigned offset) const {
  return Get32(&config_[offset & 0xFC]);
}

void PciFunction::ConfigWrite(unsigned offset, unsigned width, uint32_t value) {
  for (unsigned i = 0; i < width; ++i) {
    const unsigned off = (offset + i) & 0xFF;
    const uint8_t byte = uint8_t(value >> (8 * i));
    if (off >= kBar0 && off < kBar0 + 24) {
      const unsigned index = (off - kBar0) / 4;
      uint32_t raw = ConfigDword(kBar0 + 4 * index);
      const unsigned shift = 8 * ((off - kBar0) % 4);
      raw = (raw & ~(0xFFu << shift)) | uint32_t(byte) << shift;
      StoreBar(int(index), raw);
    } else if (off == kCommand || off == kCommand + 1 || off == 0x0C || off == 0x0D ||
               off == kInterruptLine) {
      config_[off] = byte;
    }
  }
}

void PciFunction::PokeConfigDword(unsigned offset, uint32_t value) {
  Put32(&config_[offset & 0xFC], value);
  if (decodeGeneration_) ++*decodeGeneration_;
}

void PciFunction::SetMultiFunction(bool on) {
  config_[kHeaderType] = uint8_t((config_[kHeaderType] & 0x7F) | (on ? 0x80 : 0));
}

uint32_t PciFunction::IoRead(int, uint32_t, unsigned width) { return AllOnes(width); }

void PciFunction::IoWrite(int, uint32_t, unsigned, uint32_t) {}

const char* PciFunction::RegisterName(int, uint32_t, bool) const { return nullptr; }

}  // namespace daqsim
