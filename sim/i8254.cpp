#include "i8254.h"

#include <algorithm>

namespace daqsim {

namespace {

constexpr uint64_t kNsPerSecond = 1'000'000'000;
constexpr uint64_t kMax = UINT64_MAX;

// a * b / c rounded down or up, for b and c below 2^30 (clock rates and
// nanoseconds per second), saturating at UINT64_MAX. Splitting a by c keeps
// every product inside 64 bits, so no wider integer type is needed (32-bit
// targets have none).
uint64_t MulDiv(uint64_t a, uint64_t b, uint64_t c, bool roundUp) {
  const uint64_t q = a / c, r = a % c;
  const uint64_t low = (r * b + (roundUp ? c - 1 : 0)) / c;
  if (b != 0 && q > (kMax - low) / b) return kMax;
  return q * b + low;
}

bool Valid(int counter) { return counter >= 0 && counter < I8254::kCounters; }

uint32_t Modulus(bool bcd) { return bcd ? 10000 : 65536; }

// Register encoding of a counting-element value v (0 <= v <= modulus).
uint16_t Encode(bool bcd, uint32_t v) {
  if (!bcd) return uint16_t(v);
  v %= 10000;
  return uint16_t((v / 1000) << 12 | (v / 100 % 10) << 8 | (v / 10 % 10) << 4 | v % 10);
}

}  // namespace

I8254::I8254(uint32_t clock_hz) : clock_hz_(std::min(clock_hz, kMaxClockHz)) {}

// ---- clock ---------------------------------------------------------------------------------

// Edges of the running clock since time 0, stopped intervals included.
uint64_t I8254::RawEdges(uint64_t now_ns) const {
  uint64_t dt = now_ns > segment_start_ns_ ? now_ns - segment_start_ns_ : 0;
  return segment_start_edges_ + MulDiv(dt, clock_hz_, kNsPerSecond, false);
}

// Edges the counters have seen up to and including now_ns.
uint64_t I8254::Edges(uint64_t now_ns) const {
  return stopped_ ? edges_at_stop_ : RawEdges(now_ns) - stopped_edges_;
}

// Time of the edge the counters see as number `edge`; only for edges still to come.
uint64_t I8254::EdgeTime(uint64_t edge) const {
  if (stopped_ || clock_hz_ == 0) return kNever;
  uint64_t raw = edge + stopped_edges_;
  if (raw <= segment_start_edges_) return segment_start_ns_;
  const uint64_t ns = MulDiv(raw - segment_start_edges_, kNsPerSecond, clock_hz_, true);
  return ns >= kNever - segment_start_ns_ ? kNever : ns + segment_start_ns_;
}

void I8254::SetClockHz(uint32_t hz, uint64_t now_ns) {
  segment_start_edges_ = RawEdges(now_ns);
  if (now_ns > segment_start_ns_) segment_start_ns_ = now_ns;
  clock_hz_ = std::min(hz, kMaxClockHz);
}

void I8254::SetClockStopped(bool stopped, uint64_t now_ns) {
  if (stopped == stopped_) return;
  if (stopped) {
    edges_at_stop_ = Edges(now_ns);
  } else {
    stopped_edges_ = RawEdges(now_ns) - edges_at_stop_;
  }
  stopped_ = stopped;
}

// ---- counting element ----------------------------------------------------------------------

uint16_t I8254::ValueAt(const Counter& c, uint64_t edges) {
  if (!c.running || edges < c.load_edge) return c.held_value;
  const uint64_t d = edges - c.load_edge;  // edges since the one that loaded the count
  const uint32_t n = c.reload, m = Modulus(c.bcd);
  uint32_t v = 0;
  switch (c.mode) {
    case 2:
      v = n == 1 ? 1 : n - uint32_t(d % n);
      break;
    case 3: {
      if (n == 1) { v = 1; break; }
      // Each half-cycle starts at N and steps by 2 down to 2. With an odd N the high half
      // starts with a step of 1 and the low half with a step of 3.
      const uint32_t high = (n + 1) / 2, p = uint32_t(d % n);
      const bool in_high = p < high;
      const uint32_t j = in_high ? p : p - high;
      if (j == 0) v = n;
      else if (n % 2 == 0) v = n - 2 * j;
      else v = in_high ? n + 1 - 2 * j : n - 1 - 2 * j;
      break;
    }
    default:  // modes 0 and 4 count down through 0 and wrap
      v = (n + m - uint32_t(d % m)) % m;
      break;
  }
  return Encode(c.bcd, v % m);
}

bool I8254::OutAt(const Counter& c, uint64_t edges) {
  if (!c.running || edges < c.load_edge) return c.held_out;
  const uint64_t d = edges - c.load_edge, n = c.reload;
  switch (c.mode) {
    case 0: return d >= n;
    case 2: return n == 1 || d % n != n - 1;
    case 3: return n == 1 || d % n < (n + 1) / 2;
    case 4: return d != n;
    default: return c.held_out;
  }
}

uint16_t I8254::Value(int counter, uint64_t now_ns) const {
  return Valid(counter) ? ValueAt(counters_[counter], Edges(now_ns)) : 0;
}

bool I8254::Out(int counter, uint64_t now_ns) const {
  return Valid(counter) && OutAt(counters_[counter], Edges(now_ns));
}

uint8_t I8254::Status(int counter, uint64_t now_ns) const {
  if (!Valid(counter)) return 0;
  const Counter& c = counters_[counter];
  const uint64_t e = Edges(now_ns);
  const bool null_count = c.null_pending || (c.running && e < c.load_edge);
  return uint8_t(OutAt(c, e) << 7 | null_count << 6 | c.rw << 4 | c.mode_bits << 1 | c.bcd);
}

bool I8254::Parked(int counter) const {
  if (!Valid(counter)) return false;
  const Counter& c = counters_[counter];
  return c.running && (c.mode == 2 || c.mode == 3) && c.reload == 1;
}

uint32_t I8254::UnsupportedFlags(int counter) const {
  return Valid(counter) ? counters_[counter].unsupported : 0;
}

uint64_t I8254::NextOutRisingEdge(int counter, uint64_t after_ns) const {
  if (!Valid(counter) || stopped_ || clock_hz_ == 0) return kNever;
  const Counter& c = counters_[counter];
  if (!c.running) return kNever;
  const uint64_t first = Edges(after_ns) + 1;  // first edge strictly after after_ns
  uint64_t best = kNever;
  // OUT held low by a rewrite may rise on the load edge itself.
  if (!c.held_out && c.load_edge >= first && OutAt(c, c.load_edge)) best = c.load_edge;
  // Rising edges at d >= 1 edges after the load edge.
  const uint64_t dmin = first > c.load_edge ? first - c.load_edge : 1, n = c.reload;
  uint64_t d = 0;
  switch (c.mode) {
    case 0: d = n; break;
    case 4: d = n + 1; break;
    case 2:
    case 3: d = n > 1 ? (dmin + n - 1) / n * n : 0; break;
    default: break;
  }
  if (d >= dmin && c.load_edge + d < best) best = c.load_edge + d;
  return best == kNever ? kNever : EdgeTime(best);
}

// ---- registers -----------------------------------------------------------------------------

uint8_t I8254::Read(int reg, uint64_t now_ns) {
  reg &= 3;
  if (reg == kControlRegister) return 0xFF;
  Counter& c = counters_[reg];
  if (c.status_latched) {
    c.status_latched = false;
    return c.status;
  }
  uint16_t v;
  bool high;
  if (c.latch_reads_left > 0) {
    v = c.latched;
    high = c.rw == 2 || (c.rw == 3 && c.latch_reads_left == 1);
    --c.latch_reads_left;
  } else {
    v = ValueAt(c, Edges(now_ns));
    high = c.rw == 2 || (c.rw == 3 && c.read_msb_next);
    if (c.rw == 3) c.read_msb_next = !c.read_msb_next;
  }
  return uint8_t(high ? v >> 8 : v);
}

void I8254::Write(int reg, uint8_t value, uint64_t now_ns) {
  reg &= 3;
  if (reg == kControlRegister) ControlWord(value, now_ns);
  else WriteCountByte(counters_[reg], value, now_ns);
}

void I8254::Latch(Counter& c, uint64_t now_ns) {
  if (c.latch_reads_left > 0) return;  // a pending latch is kept until it has been read
  c.latched = ValueAt(c, Edges(now_ns));
  c.latch_reads_left = c.rw == 3 ? 2 : 1;
}

void I8254::ControlWord(uint8_t value, uint64_t now_ns) {
  const int sc = value >> 6, rw = (value >> 4) & 3;
  if (sc == 3) {  // read-back: bits 5 and 4 are active low, bits 1..3 select counters
    for (int i = 0; i < kCounters; ++i) {
      if (!(value & (2 << i))) continue;
      Counter& c = counters_[i];
      if (!(value & 0x10) && !c.status_latched) {
        c.status = Status(i, now_ns);
        c.status_latched = true;
      }
      if (!(value & 0x20)) Latch(c, now_ns);
    }
    return;
  }
  Counter& c = counters_[sc];
  if (rw == 0) {
    Latch(c, now_ns);
    return;
  }
  c.held_value = ValueAt(c, Edges(now_ns));
  c.rw = uint8_t(rw);
  c.mode_bits = (value >> 1) & 7;
  c.mode = c.mode_bits > 5 ? c.mode_bits - 4 : c.mode_bits;
  c.bcd = value & 1;
  c.write_msb_next = c.read_msb_next = false;
  c.latch_reads_left = 0;
  c.status_latched = false;
  c.running = false;
  c.null_pending = true;
  c.held_out = c.mode != 0;
  if (c.mode == 1 || c.mode == 5) c.unsupported |= kNoGateTrigger;
}

void I8254::WriteCountByte(Counter& c, uint8_t value, uint64_t now_ns) {
  if (c.rw == 1) return LoadCount(c, value, now_ns);
  if (c.rw == 2) return LoadCount(c, uint16_t(value << 8), now_ns);
  if (c.write_msb_next) {
    c.write_msb_next = false;
    return LoadCount(c, uint16_t(c.write_lsb | value << 8), now_ns);
  }
  c.write_lsb = value;
  c.write_msb_next = true;
  c.null_pending = true;
  if (c.mode == 0) {  // the first byte stops a mode 0 count and drives OUT low
    c.held_value = ValueAt(c, Edges(now_ns));
    c.held_out = false;
    c.running = false;
  }
}

void I8254::LoadCount(Counter& c, uint16_t raw, uint64_t now_ns) {
  uint32_t n = raw;
  if (c.bcd) {
    n = 0;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const uint32_t digit = (raw >> shift) & 0xF;
      if (digit > 9) c.unsupported |= kInvalidBcdDigit;
      n = n * 10 + digit;
    }
    n %= 10000;
  }
  if (n == 0) n = Modulus(c.bcd);

  // The counting element and OUT keep their state until the load edge; in mode 0 a new count
  // drives OUT low at once.
  const uint64_t e = Edges(now_ns);
  const bool counting = c.running && e >= c.load_edge;
  c.held_value = ValueAt(c, e);
  c.held_out = c.mode != 0 && OutAt(c, e);
  c.reload = n;
  if (c.mode == 1 || c.mode == 5) {  // waits for a GATE trigger that never comes
    c.running = false;
    c.null_pending = true;
    return;
  }
  if (counting && (c.mode == 2 || c.mode == 3)) c.unsupported |= kReloadOnNextEdge;
  c.running = true;
  c.load_edge = e + 1;
  c.null_pending = false;
}

}  // namespace daqsim
