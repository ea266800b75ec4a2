// Benches described by a file: the JSON scenario format, read and checked
// here for every program that wants a bench from a file -- daqctl's --sim
// FILE, tests, and the libraries' simulated builds in an application's
// process (DAQSIM_SCENARIO, see Bench::ForLibraries()). Every key and the
// bench's limits are listed in tools/scenarios/README.md.
//
// Reading is strict: an unknown key, a key given twice, a value of the wrong
// type or out of range, a board model or a signal kind the bench does not
// have, two boards in one slot, a number written in any notation but decimal,
// 0x-hex or 0b-binary (a leading zero is refused, never read as octal), a
// file nested deeper than kMaxDepth levels or larger than kMaxFileBytes: each
// is refused with a ScenarioError naming the file and the key's path, e.g.
//   scenario lab.json: boards[1].channels.3.kind: unknown signal kind 'sin' (dc, sine, ...)
// and nothing of the scenario reaches the bench.
#ifndef DAQSIM_SCENARIO_H
#define DAQSIM_SCENARIO_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "daqsim/bench.h"
#include "daqsim/signal.h"

namespace daqsim {

// A scenario the bench cannot take; what() is one line for people.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A scenario, read and checked: what LoadScenario puts on a bench.
struct Scenario {
  enum class Model : uint8_t { kKorvel, kLumar, kVarno };
  enum class DriverState : uint8_t { kInstalled, kAbsent, kRefuse };
  struct Board {
    Model model = Model::kKorvel;
    PciLocation at;
    uint16_t inputs = 0;         // relay boards: the input connector
    uint16_t digitalInputs = 0;  // multifunction boards: the digital port's inputs
    uint32_t counterClockHz = MultifunctionBoard::kDefaultCounterClockHz;
    std::array<std::optional<Signal>, 16> channels;  // multifunction boards; unset: 0 V
  };

  std::string description;
  bool stockDevices = true;
  Bench::Host host = Bench::Host::kWindows;
  std::vector<Board> boards;
  DriverState kelvra = DriverState::kInstalled;
  DriverState varno = DriverState::kInstalled;
  size_t varnoFifoSamples = VarnoDriver::kDefaultCapacity;
};

// Limits of the format and of the bench.
inline constexpr size_t kMaxDepth = 32;                   // nesting of objects and arrays
inline constexpr size_t kMaxFileBytes = 16u << 20;        // 16 MiB
inline constexpr size_t kMaxBoards = PciBus::kMaxBoardWindows;  // what the PC's I/O space holds
inline constexpr size_t kMaxFifoSamples = size_t(1) << 24;
inline constexpr double kMaxSignalVolts = 1000.0;  // amplitude, offset, noise
inline constexpr double kMaxSignalHz = 1e9;

// Reads and checks the scenario in `text`; `file` names it in messages.
Scenario ParseScenario(const std::string& text, const std::string& file);
// Reads and checks the scenario in `file` (a regular file, at most
// kMaxFileBytes).
Scenario ReadScenarioFile(const std::string& file);
// Puts `scenario` on `bench`, which the caller has Reset(): stock devices,
// boards, the interrupt drivers' devices, driver states, host. Throws
// ScenarioError when the boards' windows do not fit in the I/O space.
void ApplyScenario(const Scenario& scenario, Bench& bench, const std::string& file);
// ReadScenarioFile and ApplyScenario.
void LoadScenario(Bench& bench, const std::string& file);

// The built-in bench (daqctl's, and an application's when DAQSIM_SCENARIO is
// unset): a PC with its usual devices, a KORVEL board at 0:05 (inputs
// 0x0F0F), a LUMAR board at 1:03 (0xA5), and two multifunction boards, at
// 0:09 (sine 5 V 50 Hz, square 2 V 20 Hz, 1.25 V DC, a noisy 8 V 5 Hz
// triangle on channels 0-3; digital inputs 0x00F1) and 2:04 (a 0.08 V 1 kHz
// sine and 0.5 V rms noise; 0xBEEF), all drivers installed. Onto a bench the
// caller has Reset().
void BuildBuiltInBench(Bench& bench);

}  // namespace daqsim

#endif
