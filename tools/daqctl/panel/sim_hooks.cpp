// The simulated build's hooks for the panel's tests.
#include "sim_hooks.h"

#include <fmt/format.h>

#include "daqctl.h"
#include "daqsim/bench.h"
#include "fields.h"

namespace daqctl::panel {
namespace {

std::vector<daqsim::RelayBoard*> RelayBoards() {
  daqsim::Bench& bench = daqsim::Bench::Instance();
  std::vector<daqsim::RelayBoard*> boards;
  for (const auto& slot : bench.BoardsInScanOrder(
           [](const daqsim::PciFunction& fn) { return dynamic_cast<const daqsim::RelayBoard*>(&fn) != nullptr; })) {
    boards.push_back(dynamic_cast<daqsim::RelayBoard*>(slot.second));
  }
  return boards;
}

std::vector<daqsim::MultifunctionBoard*> MultifunctionBoards() {
  std::vector<daqsim::MultifunctionBoard*> boards;
  for (daqsim::PciFunction* fn : daqsim::Bench::Instance().VarnoBoardsInScanOrder()) {
    boards.push_back(static_cast<daqsim::MultifunctionBoard*>(fn));
  }
  return boards;
}

}  // namespace

nlohmann::json BenchState() {
  nlohmann::json relay = nlohmann::json::array(), multifunction = nlohmann::json::array();
  for (const daqsim::RelayBoard* b : RelayBoards()) {
    relay.push_back({{"model", b->model() == daqsim::RelayModel::kKorvel ? "KORVEL" : "LUMAR"},
                     {"outputs", b->outputs()},
                     {"output_writes", b->outputWrites()},
                     {"inputs", b->inputs()}});
  }
  for (const daqsim::MultifunctionBoard* b : MultifunctionBoards()) {
    using daqsim::VarnoRegister;
    multifunction.push_back(
        {{"digital_outputs", b->digitalOutputs()},
         {"digital_output_writes", b->writeCount(VarnoRegister::kDigitalIo)},
         {"counter_writes", b->writeCount(VarnoRegister::kCounter0) + b->writeCount(VarnoRegister::kCounter1) +
                                b->writeCount(VarnoRegister::kCounter2) + b->writeCount(VarnoRegister::kCounterControl)},
         {"conversions", b->state().conversionsFinished}});
  }
  return {{"relay_boards", relay}, {"multifunction_boards", multifunction}};
}

nlohmann::json SetBenchInputs(const nlohmann::json& request) {
  if (const std::optional<uint32_t> n = OptionalNumber(request, "relay_board")) {
    const std::vector<daqsim::RelayBoard*> boards = RelayBoards();
    if (*n >= boards.size()) throw Failure(kExitUsage, fmt::format("the bench has no relay board {}", *n));
    boards[*n]->SetInputs(uint16_t(Number(request, "inputs")));
    return {{"relay_board", *n}, {"inputs", boards[*n]->inputs()}};
  }
  const uint32_t n = Number(request, "multifunction_board");
  const std::vector<daqsim::MultifunctionBoard*> boards = MultifunctionBoards();
  if (n >= boards.size()) throw Failure(kExitUsage, fmt::format("the bench has no multifunction board {}", n));
  boards[n]->SetDigitalInputs(uint16_t(Number(request, "digital_inputs")));
  return {{"multifunction_board", n}, {"digital_inputs", Number(request, "digital_inputs")}};
}

}  // namespace daqctl::panel
