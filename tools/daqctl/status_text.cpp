// The messages for the libraries' statuses.
#include <fmt/format.h>

#include "daqctl.h"
#include "dremor.h"
#include "kelvra.h"
#include "korvel.h"
#include "varno_ioctl.h"

namespace daqctl {
namespace {

struct StatusText {
  uint16_t status;
  const char* text;
};

// Both libraries open the same port-access driver.
constexpr const char kNoPortDriver[] =
    "cannot open the port-access driver " KELVRA_DEVICE_NAME ": it is not installed, or access was refused";

constexpr StatusText kKorvelTexts[] = {
    {KORVEL_OK, "ok"},
    {KORVEL_ERR_NO_DRIVER, kNoPortDriver},
    {KORVEL_ERR_NO_BOARD, "no KORVEL or LUMAR board was found on the PCI bus"},
    {KORVEL_ERR_LAZY_NO_BOARD, "no relay board has been found"},
    {KORVEL_ERR_BOARD_RANGE, "there is no relay board with that number"},
};

constexpr StatusText kDremorTexts[] = {
    {DREMOR_OK, "ok"},
    {DREMOR_ERR_NO_DRIVER, kNoPortDriver},
    {DREMOR_ERR_DRIVER_VERSION, "the interrupt driver did not answer the version request"},
    {DREMOR_ERR_AD_TIMEOUT,
     "the A/D converter did not finish in time (is the pacer running? is the divisor too large?)"},
    {DREMOR_ERR_LAZY_NO_BOARD, "no multifunction board has been found"},
    {DREMOR_ERR_BOARD_RANGE, "there is no multifunction board with that number, or none is selected"},
    {DREMOR_ERR_NO_BOARD, "no multifunction board was found on the PCI bus"},
    {DREMOR_ERR_NO_MEMORY, "out of memory for the sample buffer"},
    {DREMOR_ERR_NO_INTERRUPT_DEVICE,
     "cannot open the board's interrupt driver (" VARNO_DEVICE_PREFIX "n): it is not installed, or in use"},
    {DREMOR_ERR_INTERRUPT_REQUEST, "a request to the interrupt driver failed"},
    {DREMOR_ERR_INSTALL_IRQ, "the interrupt driver refused the board's interrupt resources"},
};

template <size_t N>
std::string TextOf(const StatusText (&texts)[N], uint16_t status, const char* library) {
  for (const StatusText& t : texts) {
    if (t.status == status) return t.text;
  }
  return fmt::format("unexpected status {} from {}", status, library);
}

}  // namespace

std::string KorvelStatusText(uint16_t status) { return TextOf(kKorvelTexts, status, "Korvel"); }
std::string DremorStatusText(uint16_t status) { return TextOf(kDremorTexts, status, "Dremor"); }

}  // namespace daqctl
