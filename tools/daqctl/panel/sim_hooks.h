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

// {"relay_boards": [{"model", "outputs", "inputs"}], "multifunction_boards":
// [{"digital_outputs", "digital_inputs"}]}, boards in the libraries' order.
nlohmann::json BenchState();
// {"relay_board": n, "inputs": pattern} or {"multifunction_board": n,
// "digital_inputs": pattern}.
nlohmann::json SetBenchInputs(const nlohmann::json& request);

}  // namespace daqctl::panel

#endif
