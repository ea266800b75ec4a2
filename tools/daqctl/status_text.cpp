#include <fmt/format.h>

#include "daqctl.h"
#include "dremor.h"
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
    default: return fmt::format("unexpected status {} from Korvel", status);
  }
}

std::string DremorStatusText(uint16_t status) {
  switch (status) {
    case DREMOR_OK: return "ok";
    case DREMOR_ERR_NO_DRIVER:
      return "cannot open the port-access driver \\\\.\\kelvra: it is not installed, or access was refused";
    case DREMOR_ERR_DRIVER_VERSION: return "the interrupt driver did not answer the version request";
    case DREMOR_ERR_AD_TIMEOUT:
      return "the A/D converter did not finish in time (is the pacer running? is the divisor too large?)";
    case DREMOR_ERR_LAZY_NO_BOARD: return "no multifunction board has been found";
    case DREMOR_ERR_BOARD_RANGE: return "there is no multifunction board with that number, or none is selected";
    case DREMOR_ERR_NO_BOARD: return "no multifunction board was found on the PCI bus";
    case DREMOR_ERR_NO_MEMORY: return "out of memory for the sample buffer";
    case DREMOR_ERR_NO_INTERRUPT_DEVICE:
      return "cannot open the board's interrupt driver (\\\\.\\VARNOn): it is not installed, or in use";
    case DREMOR_ERR_INTERRUPT_REQUEST: return "a request to the interrupt driver failed";
    case DREMOR_ERR_INSTALL_IRQ: return "the interrupt driver refused the board's interrupt resources";
    default: return fmt::format("unexpected status {} from Dremor", status);
  }
}

}  // namespace daqctl
