#include "daqsim/port_trace.h"

namespace daqsim {

void PortTrace::Reset() {
  enabled_ = true;
  trace_.clear();
  faults_.clear();
  count_ = 0;
}

}  // namespace daqsim
