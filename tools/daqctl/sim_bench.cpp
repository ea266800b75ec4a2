// The built-in bench of the simulated build: a PC with its usual devices, two
// relay boards and the drivers installed.
#include "daqsim/bench.h"
#include "daqctl.h"

namespace daqctl {

void PrepareMachine(bool) {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  bench.Reset();
  bench.SetTraceEnabled(false);
  bench.AddStockPcDevices();
  bench.AddRelayBoard(daqsim::RelayModel::kKorvel, daqsim::PciLocation{0, 5, 0}).SetInputs(0x0F0F);
  bench.AddRelayBoard(daqsim::RelayModel::kLumar, daqsim::PciLocation{1, 3, 0}).SetInputs(0xA5);
}

}  // namespace daqctl
