// Shared pieces of daqctl's commands.
#ifndef DAQCTL_DAQCTL_H
#define DAQCTL_DAQCTL_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace daqctl {

// Exit statuses: 0 success; a library reported a failure; the command line
// was wrong (nothing was touched).
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A failure that ends the command with a message and an exit status.
struct Failure : std::runtime_error {
  Failure(int exitCode, const std::string& message) : std::runtime_error(message), exitCode(exitCode) {}
  int exitCode;
};

// The messages for the libraries' statuses.
std::string KorvelStatusText(uint16_t status);

// Sets up the machine the commands run on: the built-in bench or hardware.
void PrepareMachine(bool sim);

struct RelayArgs {
  unsigned board = 0;
  std::optional<uint32_t> set;      // pattern to write
  std::optional<uint32_t> port;     // complete port address (both directions)
  unsigned bar = 2;                 // base word the ports are formed from
  std::optional<uint32_t> outOffset;
  std::optional<uint32_t> inOffset;
};

int RunList();
int RunRelay(const RelayArgs& args);
int RunTour();

}  // namespace daqctl

#endif
