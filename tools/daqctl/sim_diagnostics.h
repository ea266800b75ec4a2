// The simulated build only: hidden options for tests that look at the bench
// after a command (its port accesses, sleeps and drivers), or give the
// interrupt driver's stand-in a small buffer. The hardware build has none of
// this.
#ifndef DAQCTL_SIM_DIAGNOSTICS_H
#define DAQCTL_SIM_DIAGNOSTICS_H

#if !defined(DAQCTL_SIM)
#error "sim_diagnostics.h belongs to the simulated build"
#endif

#include <string>

namespace CLI {
class App;
}

namespace daqctl {

struct SimTestHooks {
  std::string report;          // --sim-report FILE: the bench's counters as JSON, written at the end
  std::string driverCapacity;  // --sim-driver-capacity N: samples the interrupt drivers hold
};
// Registers the hidden options on the top-level app.
void AddSimTestHooks(CLI::App& app, SimTestHooks& hooks);
// After the machine is prepared.
void ApplySimTestHooks(const SimTestHooks& hooks);
// At the end of the command line, whatever its outcome.
void WriteSimReport(const SimTestHooks& hooks);

}  // namespace daqctl

#endif
