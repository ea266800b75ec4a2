#include "daqsim/i8254.h"

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

I8254::I8254(uint32_t clockHz) : clockHz_(std::min(clockHz, kMaxClockHz)) {}

// ---- clock ---------------------------------------------------------------------------------

// Edges of the running clock since time 0, stopped intervals included.
uint64_t I8254::RawEdges(uint64_t nowNs) const {
  uint64_t dt = nowNs > segmentStartNs_ ? nowNs - segmentStartNs_ : 0;
  return segmentStartEdges_ + MulDiv(dt, clockHz_, kNsPerSecond, false);
}

// Edges the counters have seen up to and including nowNs.
uint64_t I8254::Edges(uint64_t nowNs) const {
  return stopped_ ? edgesAtStop_ : RawEdges(nowNs) - stoppedEdges_;
}

// Time of the edge the counters see as number `edge`; only for edges still to come.
uint64_t I8254::EdgeTime(uint64_t edge) const {
  if (stopped_ || clockHz_ == 0) return kNever;
  uint64_t raw = edge + stoppedEdges_;
  if (raw <= segmentStartEdges_) return segmentStartNs_;
  const uint64_t ns = MulDiv(raw - segmentStartEdges_, kNsPerSecond, clockHz_, true);
  return ns >= kNever - segmentStartNs_ ? kNever : ns + segmentStartNs_;
}

void I8254::SetClockHz(uint32_t hz, uint64_t nowNs) {
  segmentStartEdges_ = RawEdges(nowNs);
  if (nowNs > segmentStartNs_) segmentStartNs_ = nowNs;
  clockHz_ = std::min(hz, kMaxClockHz);
}

void I8254::SetClockStopped(bool stopped, uint64_t nowNs) {
  if (stopped == stopped_) return;
  if (stopped) {
    edgesAtStop_ = Edges(nowNs);
  } else {
    stoppedEdges_ = RawEdges(nowNs) - edgesAtStop_;
  }
  stopped_ = stopped;
}

// ---- counting element ----------------------------------------------------------------------

uint16_t I8254::ValueAt(const Counter& c, uint64_t edges) {
  if (!c.running || edges < c.loadEdge) return c.heldValue;
  const uint64_t d = edges - c.loadEdge;  // edges since the one that loaded the count
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
      const bool inHigh = p < high;
      const uint32_t j = inHigh ? p : p - high;
      if (j == 0) v = n;
      else if (n % 2 == 0) v = n - 2 * j;
      else v = inHigh ? n + 1 - 2 * j : n - 1 - 2 * j;
      break;
    }
    default:  // modes 0 and 4 count down through 0 and wrap
      v = (n + m - uint32_t(d % m)) % m;
      break;
  }
  return Encode(c.bcd, v % m);
}

bool I8254::OutAt(const Counter& c, uint64_t edges) {
  if (!c.running || edges < c.loadEdge) return c.heldOut;
  const uint64_t d = edges - c.loadEdge, n = c.reload;
  switch (c.mode) {
    case 0: return d >= n;
    case 2: return n == 1 || d % n != n - 1;
    case 3: return n == 1 || d % n < (n + 1) / 2;
    case 4: return d != n;
    default: return c.heldOut;
  }
}

uint16_t I8254::Value(int counter, uint64_t nowNs) const {
  return Valid(counter) ? ValueAt(counters_[counter], Edges(nowNs)) : 0;
}

bool I8254::Out(int counter, uint64_t nowNs) const {
  return Valid(counter) && OutAt(counters_[counter], Edges(nowNs));
}

uint8_t I8254::Status(int counter, uint64_t nowNs) const {
  if (!Valid(counter)) return 0;
  const Counter& c = counters_[counter];
  const uint64_t e = Edges(nowNs);
  const bool nullCount = c.nullPending || (c.running && e < c.loadEdge);
  return uint8_t(OutAt(c, e) << 7 | nullCount << 6 | c.rw << 4 | c.modeBits << 1 | c.bcd);
}

bool I8254::Parked(int counter) const {
  if (!Valid(counter)) return false;
  const Counter& c = counters_[counter];
  return c.running && (c.mode == 2 || c.mode == 3) && c.reload == 1;
}

uint32_t I8254::UnsupportedFlags(int counter) const {
  return Valid(counter) ? counters_[counter].unsupported : 0;
}

uint64_t I8254::NextOutRisingEdge(int counter, uint64_t afterNs) const {
  if (!Valid(counter) || stopped_ || clockHz_ == 0) return kNever;
  const Counter& c = counters_[counter];
  if (!c.running) return kNever;
  const uint64_t first = Edges(afterNs) + 1;  // first edge strictly after afterNs
  uint64_t best = kNever;
  // OUT held low by a rewrite may rise on the load edge itself.
  if (!c.heldOut && c.loadEdge >= first && OutAt(c, c.loadEdge)) best = c.loadEdge;
  // Rising edges at d >= 1 edges after the load edge.
  const uint64_t dmin = first > c.loadEdge ? first - c.loadEdge : 1, n = c.reload;
  uint64_t d = 0;
  switch (c.mode) {
    case 0: d = n; break;
    case 4: d = n + 1; break;
    case 2:
    case 3: d = n > 1 ? (dmin + n - 1) / n * n : 0; break;
    default: break;
  }
  if (d >= dmin && c.loadEdge + d < best) best = c.loadEdge + d;
  return best == kNever ? kNever : EdgeTime(best);
}

// ---- registers -----------------------------------------------------------------------------

uint8_t I8254::Read(int reg, uint64_t nowNs) {
  reg &= 3;
  if (reg == kControlRegister) return 0xFF;
  Counter& c = counters_[reg];
  if (c.statusLatched) {
    c.statusLatched = false;
    return c.status;
  }
  uint16_t v;
  bool high;
  if (c.latchReadsLeft > 0) {
    v = c.latched;
    high = c.rw == 2 || (c.rw == 3 && c.latchReadsLeft == 1);
    --c.latchReadsLeft;
  } else {
    v = ValueAt(c, Edges(nowNs));
    high = c.rw == 2 || (c.rw == 3 && c.readMsbNext);
    if (c.rw == 3) c.readMsbNext = !c.readMsbNext;
  }
  return uint8_t(high ? v >> 8 : v);
}

void I8254::Write(int reg, uint8_t value, uint64_t nowNs) {
  reg &= 3;
  if (reg == kControlRegister) ControlWord(value, nowNs);
  else WriteCountByte(counters_[reg], value, nowNs);
}

void I8254::Latch(Counter& c, uint64_t nowNs) {
  if (c.latchReadsLeft > 0) return;  // a pending latch is kept until it has been read
  c.latched = ValueAt(c, Edges(nowNs));
  c.latchReadsLeft = c.rw == 3 ? 2 : 1;
}

void I8254::ControlWord(uint8_t value, uint64_t nowNs) {
  const int sc = value >> 6, rw = (value >> 4) & 3;
  if (sc == 3) {  // read-back: bits 5 and 4 are active low, bits 1..3 select counters
    for (int i = 0; i < kCounters; ++i) {
      if (!(value & (2 << i))) continue;
      Counter& c = counters_[i];
      if (!(value & 0x10) && !c.statusLatched) {
        c.status = Status(i, nowNs);
        c.statusLatched = true;
      }
      if (!(value & 0x20)) Latch(c, nowNs);
    }
    return;
  }
  Counter& c = counters_[sc];
  if (rw == 0) {
    Latch(c, nowNs);
    return;
  }
  c.heldValue = ValueAt(c, Edges(nowNs));
  c.rw = uint8_t(rw);
  c.modeBits = (value >> 1) & 7;
  c.mode = c.modeBits > 5 ? c.modeBits - 4 : c.modeBits;
  c.bcd = value & 1;
  c.writeMsbNext = c.readMsbNext = false;
  c.latchReadsLeft = 0;
  c.statusLatched = false;
  c.running = false;
  c.nullPending = true;
  c.heldOut = c.mode != 0;
  if (c.mode == 1 || c.mode == 5) c.unsupported |= kNoGateTrigger;
}

void I8254::WriteCountByte(Counter& c, uint8_t value, uint64_t nowNs) {
  if (c.rw == 1) return LoadCount(c, value, nowNs);
  if (c.rw == 2) return LoadCount(c, uint16_t(value << 8), nowNs);
  if (c.writeMsbNext) {
    c.writeMsbNext = false;
    return LoadCount(c, uint16_t(c.writeLsb | value << 8), nowNs);
  }
  c.writeLsb = value;
  c.writeMsbNext = true;
  c.nullPending = true;
  if (c.mode == 0) {  // the first byte stops a mode 0 count and drives OUT low
    c.heldValue = ValueAt(c, Edges(nowNs));
    c.heldOut = false;
    c.running = false;
  }
}

void I8254::LoadCount(Counter& c, uint16_t raw, uint64_t nowNs) {
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
  const uint64_t e = Edges(nowNs);
  const bool counting = c.running && e >= c.loadEdge;
  c.heldValue = ValueAt(c, e);
  c.heldOut = c.mode != 0 && OutAt(c, e);
  c.reload = n;
  if (c.mode == 1 || c.mode == 5) {  // waits for a GATE trigger that never comes
    c.running = false;
    c.nullPending = true;
    return;
  }
  if (counting && (c.mode == 2 || c.mode == 3)) c.unsupported |= kReloadOnNextEdge;
  c.running = true;
  c.loadEdge = e + 1;
  c.nullPending = false;
}

}  // namespace daqsim
