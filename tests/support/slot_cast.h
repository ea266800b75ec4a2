// Calling an export with garbage above each argument's stated width.
#ifndef DAQ_TESTS_SUPPORT_SLOT_CAST_H
#define DAQ_TESTS_SUPPORT_SLOT_CAST_H

namespace daqtest {

// Reinterprets an export as taking and returning whole 32-bit slots. Every
// argument of these exports occupies a 32-bit slot of which only the stated
// width may be used, so such a call is how an application with dirty upper
// bits reaches them.
template <class To, class From>
To SlotCast(From f) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)(void)>(f));
}

}  // namespace daqtest

#endif
