// The x86 port instructions. This is the only place in the project that holds
// x86 assembly. Each function is one `in` or `out` of exactly the stated width;
// they are inline so that the I/O exports compile to the bare instruction.
//
// These execute only while the process holds port-access permission (the
// port-access driver on Windows, iopl on Linux); otherwise the CPU raises a
// privileged-instruction fault. The libraries guard every call accordingly.
#ifndef DAQ_COMMON_BACKEND_HW_PORT_IO_X86_H
#define DAQ_COMMON_BACKEND_HW_PORT_IO_X86_H

#include <stdint.h>

#if !defined(__i386__) && !defined(__x86_64__)
#error "the hardware backend needs an x86 target"
#endif

static inline uint8_t PortRead8(uint16_t port) {
  uint8_t value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
  return value;
}

static inline uint16_t PortRead16(uint16_t port) {
  uint16_t value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(value) : "Nd"(port));
  return value;
}

static inline uint32_t PortRead32(uint16_t port) {
  uint32_t value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(port));
  return value;
}

static inline void PortWrite8(uint16_t port, uint8_t value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
}

static inline void PortWrite16(uint16_t port, uint16_t value) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(value), "Nd"(port));
}

static inline void PortWrite32(uint16_t port, uint32_t value) {
  __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(port));
}

#endif
