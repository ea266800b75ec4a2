// Calling an export with garbage above each argument's stated width.
#ifndef DAQ_TESTS_SUPPORT_SLOT_CAST_H
#define DAQ_TESTS_SUPPORT_SLOT_CAST_H

#include <cstdint>
#include <cstring>

namespace daqtest {

// Reinterprets an export as taking and returning whole 32-bit slots. Every
// argument of these exports occupies a 32-bit slot of which only the stated
// width may be used, so such a call is how an application with dirty upper
// bits reaches them.
template <class To, class From>
To SlotCast(From f) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)(void)>(f));
}

// The exports' calling convention (stdcall on 32-bit Windows).
#if defined(_WIN32) && !defined(_WIN64)
#define DAQTEST_CALL __stdcall
#else
#define DAQTEST_CALL
#endif

// Calls export `f` with every argument a whole 32-bit slot, and returns its
// result slot as an R.
template <class R, class F, class... Slots>
R SlotCall(F f, Slots... slots) {
  using Fn = R(DAQTEST_CALL*)(decltype(uint32_t(slots))...);
  return SlotCast<Fn>(f)(uint32_t(slots)...);
}

// The bits of a single-precision float, and back: floats are compared bit
// for bit, and pass through an argument slot as their bits.
inline uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}
inline float FromBits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// A pointer as a 32-bit argument slot (32-bit targets only).
inline uint32_t Slot(const void* p) { return uint32_t(reinterpret_cast<uintptr_t>(p)); }

}  // namespace daqtest

#endif
