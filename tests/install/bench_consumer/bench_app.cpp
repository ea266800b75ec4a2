// The installed simulated libraries on a bench of the program's own: a
// KORVEL board whose relays are switched and whose inputs are read, and a
// multifunction board with a DC signal that is converted, all through the
// libraries' exports, with the bench watching every port access.
#include <cmath>
#include <cstdio>

#include "daqsim/bench.h"
#include "dremor.h"
#include "korvel.h"

namespace {

int failures = 0;

void Expect(const char* what, double actual, double expected, double tolerance = 0) {
  const bool ok = std::fabs(actual - expected) <= tolerance;
  std::printf("%-28s %g%s\n", what, actual, ok ? "" : "   FAILED");
  if (!ok) ++failures;
}

}  // namespace

int main() {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  bench.Reset();
  bench.AddStockPcDevices();
  daqsim::RelayBoard& relays = bench.AddRelayBoard(daqsim::RelayModel::kKorvel, {0, 5, 0});
  relays.SetInputs(0x1234);
  daqsim::MultifunctionBoard& varno = bench.AddMultifunctionBoard({0, 9, 0});
  varno.SetSignal(2, daqsim::Signal::Dc(1.25));
  bench.InstallVarnoDevices();

  unsigned short count = 0, kind = 9, base[6] = {};
  Expect("PCI_DriverInit", PCI_DriverInit(&count), KORVEL_OK);
  Expect("  relay boards", count, 1);
  Expect("PCI_GetConfigAddressSpace",
         PCI_GetConfigAddressSpace(0, &kind, &base[0], &base[1], &base[2], &base[3], &base[4], &base[5]), KORVEL_OK);
  Expect("  kind", kind, RELAY_KIND_KORVEL);
  const unsigned short block = base[RELAY_BOARD_BLOCK_BAR];
  KORVEL_DO(static_cast<unsigned short>(block + KORVEL_OUTPUT_OFFSET), 0x00FF);
  Expect("relays on the bench", relays.outputs(), 0x00FF);
  Expect("KORVEL_DI", KORVEL_DI(static_cast<unsigned short>(block + KORVEL_INPUT_OFFSET)), 0x1234);
  PCI_DriverClose();

  float volts = 0;
  Expect("VARNO_DriverInit", VARNO_DriverInit(&count), DREMOR_OK);
  Expect("  multifunction boards", count, 1);
  Expect("VARNO_ActiveBoard", VARNO_ActiveBoard(0), DREMOR_OK);
  Expect("VARNO_SetChannelConfig", VARNO_SetChannelConfig(2, 0), DREMOR_OK);  // channel 2, +-10 V
  Expect("VARNO_AdPolling", VARNO_AdPolling(&volts), DREMOR_OK);
  Expect("  volts (1.25 V, one code is 4.9 mV)", volts, 1.25, 0.005);
  VARNO_DriverClose();

  Expect("accesses without port access", static_cast<double>(bench.faults().size()), 0);
  std::printf("%s\n", failures ? "FAILED" : "ok");
  return failures ? 1 : 0;
}
