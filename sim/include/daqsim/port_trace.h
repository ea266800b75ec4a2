// The record of the CPU's port accesses: the trace of every access, and the
// faults, the accesses made without port access granted.
#ifndef DAQSIM_PORT_TRACE_H
#define DAQSIM_PORT_TRACE_H

#include <cstdint>
#include <vector>

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
  // Trace on and empty, no faults, count 0.
  void Reset();
  // Counts the access, keeps it in the trace while that is on, and among the
  // faults when it faulted.
  void Record(const PortAccess& access) {
    ++count_;
    if (enabled_) trace_.push_back(access);
    if (access.faulted) faults_.push_back(access);
  }

  const std::vector<PortAccess>& trace() const { return trace_; }
  void Clear() { trace_.clear(); }
  void SetEnabled(bool on) { enabled_ = on; }
  const std::vector<PortAccess>& faults() const { return faults_; }
  void ClearFaults() { faults_.clear(); }
  // Accesses recorded since Reset(), traced or not.
  uint64_t count() const { return count_; }

 private:
  bool enabled_ = true;
  std::vector<PortAccess> trace_;
  std::vector<PortAccess> faults_;
  uint64_t count_ = 0;
};

}  // namespace daqsim

#endif
