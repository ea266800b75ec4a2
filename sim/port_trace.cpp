#include "daqsim/port_trace.h"

namespace daqsim {

void PortTrace::Reset() {
  enabled_ = true;
  limit_ = 0;
  trace_.clear();
  faults_.clear();
  count_ = 0;
  faultCount_ = 0;
  lastFault_.reset();
}

void PortTrace::SetLimit(size_t limit) {
  limit_ = limit;
  TrimToBound(trace_, limit);
  TrimToBound(faults_, limit);
}

}  // namespace daqsim
