// Calls a function exported with the 32-bit Windows stdcall convention from
// raw 32-bit argument slots, and measures what the call did to the stack
// pointer. A stdcall callee removes its own arguments, so a correct export
// leaves ESP exactly where it was before the arguments were pushed.
#ifndef DAQ_TESTS_SUPPORT_STDCALL_PROBE_H
#define DAQ_TESTS_SUPPORT_STDCALL_PROBE_H

#include <cstdint>
#include <vector>

#if !defined(__i386__)
#error "the stdcall probe is for 32-bit x86"
#endif

namespace daqtest {

struct ProbeResult {
  uint32_t eax;        // integer result
  float st0;           // floating-point result (only when asked for)
  int32_t espDelta;    // ESP after the call minus ESP before the pushes
};

// Pushes `slots` right to left, calls `fn`, and reports. With `floatResult`
// the x87 top of stack is popped into st0 (a float-returning callee leaves
// its result there; popping an empty x87 stack is not allowed).
inline ProbeResult ProbeStdcall(const void* fn, std::vector<uint32_t> slots, bool floatResult = false) {
  ProbeResult r{};
  uint32_t count = uint32_t(slots.size());
  const uint32_t* args = slots.data();
  float st0 = 0;
  uint32_t eax, edx;
  __asm__ __volatile__(
      "movl %%esp, %%edi\n\t"
      "jecxz 2f\n\t"
      "1:\n\t"
      "pushl -4(%%esi,%%ecx,4)\n\t"
      "loop 1b\n\t"
      "2:\n\t"
      "call *%%ebx\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%edi, %%ecx\n\t"
      "movl %%edi, %%esp\n\t"
      : "=a"(eax), "=d"(edx), "+c"(count)
      : "b"(fn), "S"(args)
      : "edi", "memory", "cc");
  if (floatResult) __asm__ __volatile__("fstps %0" : "=m"(st0));
  (void)edx;
  r.eax = eax;
  r.st0 = st0;
  r.espDelta = int32_t(count);
  return r;
}

}  // namespace daqtest

#endif
