// The simulated build only: what the panel's tests ask of the bench while the
// panel runs (the relay outputs as the bench holds them, not as a library
// reads them; an input pattern changed). Called on the rig thread: the bench
// is not thread-safe.
#ifndef DAQCTL_PANEL_SIM_HOOKS_H
#define DAQCTL_PANEL_SIM_HOOKS_H

#if !defined(DAQCTL_SIM)
#error "sim_hooks.h belongs to the simulated build"
#endif

#include <nlohmann/json.hpp>

namespace daqctl::panel {

// {"relay_boards": [{"model", "outputs", "output_writes", "inputs"}],
//  "multifunction_boards": [{"digital_outputs", "digital_output_writes",
//  "counter_writes", "conversions"}]}, boards in the libraries' order; the
// counts run from power-up, so that a test sees any write, even of the
// pattern already there.
nlohmann::json BenchState();
// {"relay_board": n, "inputs": pattern} or {"multifunction_board": n,
// "digital_inputs": pattern}.
nlohmann::json SetBenchInputs(const nlohmann::json& request);

}  // namespace daqctl::panel

#endif
