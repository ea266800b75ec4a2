// Model of the 8254 programmable interval timer on the multifunction board.
//
// Three 16-bit down counters share one CLK input; GATE is tied high and there is no trigger
// input. Registers (index 0..3): counter 0, counter 1, counter 2, control word. The board
// places them at block offsets 0x00, 0x04, 0x08 and 0x0C; the caller maps offsets to indices.
//
// Time is derived, never ticked. Every call takes the current virtual time in nanoseconds,
// which must not decrease from one state-changing call (Write, Read, SetClock*) to the next;
// queries at earlier times see the current state extrapolated backwards. CLK edge k (k >= 1,
// counted from the start of the current clock setting at t0) happens at
// t0 + ceil(k * 1e9 / f) ns, computed in exact integer arithmetic. An edge that happens at
// exactly the time of a register access is taken to have happened before that access.
//
// Behaviour, per counter:
//  - A control word (not a latch command) resets the byte sequencing and the latches, sets
//    null count and stops the counter until a new count is written. OUT goes low in mode 0,
//    high in every other mode. The counting element keeps its value.
//  - A count is transferred to the counting element on the first CLK edge after the write that
//    completes it (the second byte in LSB-then-MSB access), then decrements on every edge.
//    In mode 0 the first byte of a two-byte count already stops counting.
//  - Count 0 means 65536 (binary) or 10000 (BCD). BCD counting is modelled as decimal
//    arithmetic modulo 10000; a count with a non-decimal digit is taken digit by digit at face
//    value and recorded as kInvalidBcdDigit.
//  - Mode 0: OUT low until the count reaches 0 (N edges after the load edge), then high; the
//    counter keeps decrementing and wraps from 0 to 0xFFFF.
//  - Mode 2 (rate generator): value N, N-1, ..., 1, reload N; OUT low for the one CLK period in
//    which the value is 1, so OUT rises every N clocks. Modes 6 and 7 alias 2 and 3.
//  - Mode 3 (square wave): OUT high for ceil(N/2) clocks, low for floor(N/2), rising every N
//    clocks; the counting element steps by 2 (odd counts: the chip's -1 / -3 first step).
//  - Mode 4 (software strobe): OUT high, low for one CLK period when the count reaches 0.
//  - Count 1 in mode 2 or 3 is illegal on the chip. The driver loads it to "park" a counter;
//    this model defines a parked counter as value 1, OUT permanently high, no pulses at all.
//  - Modes 1 and 5 start counting on a GATE rising edge, which never comes here: counting never
//    starts, OUT stays at its initial (high) level, null count stays set (kNoGateTrigger).
//  - Rewriting the count of a running mode 2 or 3 counter without a control word: the chip
//    takes the new count at the end of the current (half-)cycle, this model on the next CLK
//    edge (kReloadOnNextEdge).
//  - Power-up state (undefined on the chip): as if control word 0x30 (LSB then MSB, mode 0,
//    binary) had been written with the counting element at 0: OUT low, no count, null count.
#ifndef DAQSIM_I8254_H
#define DAQSIM_I8254_H

#include <cstdint>

namespace daqsim {

class I8254 {
 public:
  static constexpr uint32_t kDefaultClockHz = 4'000'000;  // CLK of all three counters
  // Faster rates are clamped to this, so that every CLK edge falls on a nanosecond of its own.
  static constexpr uint32_t kMaxClockHz = 1'000'000'000;
  static constexpr uint64_t kNever = UINT64_MAX;
  static constexpr int kCounters = 3;
  static constexpr int kControlRegister = 3;

  // Reasons a counter's behaviour departs from the chip; recorded per counter, sticky.
  enum Unsupported : uint32_t {
    kNoGateTrigger = 1u << 0,     // mode 1 or 5 selected: no GATE trigger, never counts
    kReloadOnNextEdge = 1u << 1,  // mode 2/3 count rewritten while running: see above
    kInvalidBcdDigit = 1u << 2,   // BCD count with a digit above 9
  };

  explicit I8254(uint32_t clockHz = kDefaultClockHz);

  // Register read; reg is taken modulo 4. Returns a latched status, else a latched count
  // byte, else a byte of the live counting element per the access mode (LSB-then-MSB reads
  // alternate and may tear). The control register cannot be read: returns 0xFF.
  uint8_t Read(int reg, uint64_t nowNs);
  // Register write; reg is taken modulo 4. Register 3 takes control words, counter-latch and
  // read-back commands; registers 0..2 take count bytes.
  void Write(int reg, uint8_t value, uint64_t nowNs);

  // The queries below take a counter 0..2; for any other number they return 0, false, kNever.

  // Live counting-element value of a counter (BCD-encoded in BCD mode), no side effects.
  uint16_t Value(int counter, uint64_t nowNs) const;
  // Level of a counter's OUT pin.
  bool Out(int counter, uint64_t nowNs) const;
  // Status byte as the read-back command would latch it:
  // OUT << 7 | null count << 6 | RW << 4 | mode bits as written << 1 | BCD.
  uint8_t Status(int counter, uint64_t nowNs) const;
  // Time of the first OUT rising edge caused by CLK strictly after afterNs, or kNever if
  // none will come without another register write or clock change (no count, parked,
  // mode 0/4 past their edge, clock stopped or 0 Hz). OUT changes made by a write happen at
  // the write's own time and are not reported.
  uint64_t NextOutRisingEdge(int counter, uint64_t afterNs) const;
  // True if the counter holds count 1 in mode 2 or 3 (see "parked" above).
  bool Parked(int counter) const;
  // Bit set of Unsupported reasons met by this counter since construction.
  uint32_t UnsupportedFlags(int counter) const;

  uint32_t ClockHz() const { return clockHz_; }
  // Changes CLK from now on; edges already seen are kept. 0 Hz means no edges; rates above
  // kMaxClockHz are clamped.
  void SetClockHz(uint32_t hz, uint64_t nowNs);
  bool ClockStopped() const { return stopped_; }
  // Clock-stopped fault: while stopped no counter sees any CLK edge (values and OUT freeze);
  // after resuming, counting continues from where it stopped on the next edge of the clock.
  void SetClockStopped(bool stopped, uint64_t nowNs);

 private:
  struct Counter {
    uint8_t rw = 3;              // access: 1 LSB only, 2 MSB only, 3 LSB then MSB
    uint8_t modeBits = 0;        // mode field as written (0..7)
    uint8_t mode = 0;            // effective mode 0..5
    bool bcd = false;
    bool writeMsbNext = false;
    uint8_t writeLsb = 0;
    bool readMsbNext = false;
    uint8_t latchReadsLeft = 0;  // 0: the output latch follows the counter
    uint16_t latched = 0;
    bool statusLatched = false;
    uint8_t status = 0;
    bool running = false;        // a count was written and is (or will be) counting
    uint64_t loadEdge = 0;       // edge index at which the count enters the counting element
    uint32_t reload = 0;         // count N as a number of clocks
    uint16_t heldValue = 0;      // counting element while not counting, register encoding
    bool heldOut = false;        // OUT while not counting
    bool nullPending = true;     // count register changed, no transfer scheduled yet
    uint32_t unsupported = 0;
  };

  uint64_t RawEdges(uint64_t nowNs) const;
  uint64_t Edges(uint64_t nowNs) const;
  uint64_t EdgeTime(uint64_t edge) const;
  static uint16_t ValueAt(const Counter& c, uint64_t edges);
  static bool OutAt(const Counter& c, uint64_t edges);
  void ControlWord(uint8_t value, uint64_t nowNs);
  void Latch(Counter& c, uint64_t nowNs);
  void WriteCountByte(Counter& c, uint8_t value, uint64_t nowNs);
  void LoadCount(Counter& c, uint16_t raw, uint64_t nowNs);

  Counter counters_[kCounters];
  uint32_t clockHz_;
  uint64_t segmentStartNs_ = 0;     // time the current clock rate took effect
  uint64_t segmentStartEdges_ = 0;  // raw edges before that time
  uint64_t stoppedEdges_ = 0;       // raw edges swallowed while the clock was stopped
  bool stopped_ = false;
  uint64_t edgesAtStop_ = 0;
};

}  // namespace daqsim

#endif  // DAQSIM_I8254_H
