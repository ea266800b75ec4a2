// The hardware build: daqctl drives the real machine through the libraries.
#include "daqctl.h"

namespace daqctl {

void PrepareMachine(const MachineOptions& options) {
  if (options.sim) {
    throw Failure(kExitUsage, "this daqctl drives hardware; --sim needs the simulated build of daqctl");
  }
}

// The libraries report no PCI slot, and the counter clock is a property of
// the board that software cannot read.
std::string BoardSlot(Family, unsigned) { return "-"; }
std::optional<double> CounterClockHz(unsigned) { return std::nullopt; }
void KeepTimeRunning() {}

}  // namespace daqctl
