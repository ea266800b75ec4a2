// The bench's byte helpers: little-endian fields in byte buffers (PCI
// configuration space, the interrupt driver's request records), the host's
// byte order, and the all-ones value of an access width. Private to sim/.
#ifndef DAQSIM_BYTES_H
#define DAQSIM_BYTES_H

#include <cstdint>
#include <cstring>

namespace daqsim {

inline uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

inline bool HostIsLittleEndian() {
  const uint16_t probe = 1;
  uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// What `bytes` lanes (1, 2 or 4) of floating data lines read: all ones.
inline uint32_t AllOnes(unsigned bytes) { return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1; }

}  // namespace daqsim

#endif
