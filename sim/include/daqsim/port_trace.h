// The record of the CPU's port accesses: the trace of every access, and the
// faults, the accesses made without port access granted.
#ifndef DAQSIM_PORT_TRACE_H
#define DAQSIM_PORT_TRACE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "daqsim/bounded_record.h"

namespace daqsim {

enum class AccessDir : uint8_t { kRead, kWrite };

// One port access as the CPU made it.
struct PortAccess {
  AccessDir dir;
  uint8_t width;     // bytes: 1, 2 or 4
  uint16_t port;
  uint32_t value;    // written, or returned to the CPU
  uint64_t timeNs;   // virtual time of the access
  const char* reg;   // register name where a device claims the port, else nullptr
  bool faulted;      // made without port access granted: on a real machine the
                     // instruction would have raised a privileged-instruction
                     // exception and killed the application
};

class PortTrace {
 public:
  // Trace on and empty, no faults, counts 0, no bound.
  void Reset();
  // Counts the access, keeps it in the trace while that is on, and among the
  // faults when it faulted.
  void Record(const PortAccess& access) {
    ++count_;
    if (enabled_) AppendBounded(trace_, access, limit_);
    if (access.faulted) {
      ++faultCount_;
      lastFault_ = access;
      AppendBounded(faults_, access, limit_);
    }
  }

  const std::vector<PortAccess>& trace() const { return trace_; }
  void Clear() { trace_.clear(); }
  void SetEnabled(bool on) { enabled_ = on; }
  const std::vector<PortAccess>& faults() const { return faults_; }
  void ClearFaults() { faults_.clear(); }
  // Accesses recorded since Reset(), traced or not.
  uint64_t count() const { return count_; }
  // Faults since Reset(), kept or not, and the latest of them.
  uint64_t faultCount() const { return faultCount_; }
  const std::optional<PortAccess>& lastFault() const { return lastFault_; }
  // Bounds the trace and the faults kept (bounded_record.h); 0: no bound.
  void SetLimit(size_t limit);

 private:
  bool enabled_ = true;
  size_t limit_ = 0;
  std::vector<PortAccess> trace_;
  std::vector<PortAccess> faults_;
  uint64_t count_ = 0;
  uint64_t faultCount_ = 0;
  std::optional<PortAccess> lastFault_;
};

}  // namespace daqsim

#endif
