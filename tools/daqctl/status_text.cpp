#include <fmt/format.h>

#include "daqctl.h"
#include "korvel.h"

namespace daqctl {

std::string KorvelStatusText(uint16_t status) {
  switch (status) {
    case KORVEL_OK: return "ok";
    case KORVEL_ERR_NO_DRIVER:
      return "cannot open the port-access driver \\\\.\\kelvra: it is not installed, or access was refused";
    case KORVEL_ERR_NO_BOARD: return "no KORVEL or LUMAR board was found on the PCI bus";
    case KORVEL_ERR_LAZY_NO_BOARD: return "no relay board has been found";
    case KORVEL_ERR_BOARD_RANGE: return "there is no relay board with that number";
    default: return fmt::format("unexpected status {}", status);
  }
}

}  // namespace daqctl
