// daqctl's version line: the tool, its build, the libraries and the
// interrupt driver.
#include <fmt/format.h>

#include "daqctl.h"
#include "dremor.h"
#include "korvel.h"

#if !defined(DAQCTL_VERSION)
#error "DAQCTL_VERSION (the project's version) comes from the build"
#endif

namespace daqctl {

std::string VersionText(uint16_t version) { return fmt::format("{:x}.{:02x}", version >> 8, version & 0xFF); }

std::string ToolName() {
#if defined(DAQCTL_SIM)
  return "daqctl " DAQCTL_VERSION " (simulated bench)";
#else
  return "daqctl " DAQCTL_VERSION;
#endif
}

std::string VersionLine(std::optional<uint16_t> driverVersion) {
  // Korvel's PCI_GetDriverVersion answers a constant without asking the
  // driver, so it says nothing about the machine and is not shown.
  return fmt::format("{}, Korvel {}, Dremor {}, interrupt driver {}", ToolName(), VersionText(PCI_GetDllVersion()),
                     VersionText(VARNO_GetDllVersion()), driverVersion ? VersionText(*driverVersion) : "none");
}

}  // namespace daqctl
