#include "daqsim/port_trace.h"

namespace daqsim {

void PortTrace::Reset() {
  enabled_ = true;
  trace_.clear();
  faults_.clear();
  count_ = 0;
}

void PortTrace::Record(const PortAccess& access) {
  ++count_;
  if (enabled_) trace_.push_back(access);
  if (access.faulted) faults_.push_back(access);
}

}  // namespace daqsim
