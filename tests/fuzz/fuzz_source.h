// The choices of one fuzz input, drawn from its bytes.
//
// Every random decision of a fuzz run (the bench, the calls, their arguments)
// is read from one byte string, so that libFuzzer's mutations steer the run
// and any input replays exactly. Once the bytes run out every draw answers 0
// and exhausted() turns true; the call loops stop there.
#ifndef DAQ_TESTS_FUZZ_FUZZ_SOURCE_H
#define DAQ_TESTS_FUZZ_FUZZ_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace daqfuzz {

class FuzzSource {
 public:
  FuzzSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool exhausted() const { return pos_ >= size_; }

  uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return uint16_t(U8() | U8() << 8); }
  uint32_t U32() { return uint32_t(U16()) | uint32_t(U16()) << 16; }
  bool Bool() { return (U8() & 1) != 0; }
  // A number below `n` (n >= 1).
  uint32_t Below(uint32_t n) { return n <= 256 ? U8() % n : n <= 65536 ? U16() % n : U32() % n; }
  // True `percent` times in a hundred.
  bool Percent(unsigned percent) { return U8() % 100 < percent; }
  // One of the given values.
  template <class T>
  T OneOf(std::initializer_list<T> values) {
    return values.begin()[Below(uint32_t(values.size()))];
  }

  // A 16-bit argument as an application might pass one: mostly the values
  // where contracts change their answer, sometimes any value.
  uint16_t Arg16(std::initializer_list<uint16_t> interesting) {
    if (Percent(25)) return U16();
    return OneOf(interesting);
  }
  // What lies above the stated width of an argument in its 32-bit slot: zero
  // for half the calls, garbage for the others.
  uint32_t Garbage(unsigned width) {
    if (Bool()) return 0;
    const uint32_t g = U32() | 1u << 31;
    return width >= 32 ? 0 : g & ~((uint32_t(1) << width) - 1);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace daqfuzz

#endif
