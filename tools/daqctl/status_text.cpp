// The messages for the libraries' statuses, and for the drivers that could
// not be opened, with the cause the machine can tell.
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

// The Linux hardware build: port access is a capability of the process (no
// device to open), and there is no interrupt driver, so background
// acquisition requests fail there.
#if defined(__linux__) && !defined(DAQCTL_SIM)
#define DAQCTL_LINUX_HARDWARE 1
constexpr const char kNoPortDriver[] =
    "port access refused: run with CAP_SYS_RAWIO (as root, or after `setcap cap_sys_rawio+ep daqctl`)";
constexpr const char kNoInterruptDriver[] =
    "background acquisition needs the board's interrupt driver, which this platform does not have; use --mode pacer";
#else
// Both libraries open the same port-access driver.
constexpr const char kNoPortDriver[] =
    "cannot open the port-access driver " KELVRA_DEVICE_NAME ": it is not installed, or access was refused";
#endif

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
    {DREMOR_ERR_AD_TIMEOUT, "the A/D converter did not finish a conversion in time"},
    {DREMOR_ERR_LAZY_NO_BOARD, "no multifunction board has been found"},
    {DREMOR_ERR_BOARD_RANGE, "there is no multifunction board with that number, or none is selected"},
    {DREMOR_ERR_NO_BOARD, "no multifunction board was found on the PCI bus"},
    {DREMOR_ERR_NO_MEMORY, "out of memory for the sample buffer"},
    {DREMOR_ERR_NO_INTERRUPT_DEVICE,
     "cannot open the board's interrupt driver (" VARNO_DEVICE_PREFIX "n): it is not installed, or in use"},
#if defined(DAQCTL_LINUX_HARDWARE)
    {DREMOR_ERR_INTERRUPT_REQUEST, kNoInterruptDriver},
    {DREMOR_ERR_INSTALL_IRQ, kNoInterruptDriver},
#else
    {DREMOR_ERR_INTERRUPT_REQUEST, "a request to the interrupt driver failed"},
    {DREMOR_ERR_INSTALL_IRQ, "the interrupt driver refused the board's interrupt resources"},
#endif
};

template <size_t N>
std::string TextOf(const StatusText (&texts)[N], uint16_t status, const char* library) {
  for (const StatusText& t : texts) {
    if (t.status == status) return t.text;
  }
  return fmt::format("unexpected status {} from {}", status, library);
}

// "cannot open <what> <device>: <cause>", or nullopt when the machine cannot
// tell the cause.
std::optional<std::string> OpenFailureCause(const char* what, const std::string& device) {
  switch (ProbeDevice(device)) {
    case DeviceState::kAbsent:
      return fmt::format("cannot open {} {}: it is not installed", what, device);
    case DeviceState::kRefused:
      return fmt::format("cannot open {} {}: it refused the open (another program holds it, or access was denied)",
                         what, device);
    default:
      return std::nullopt;
  }
}

std::string PortDriverFailureText() {
#if defined(DAQCTL_LINUX_HARDWARE)
  return kNoPortDriver;
#else
  return OpenFailureCause("the port-access driver", KELVRA_DEVICE_NAME).value_or(kNoPortDriver);
#endif
}

}  // namespace

std::string KorvelStatusText(uint16_t status) { return TextOf(kKorvelTexts, status, "Korvel"); }
std::string DremorStatusText(uint16_t status) { return TextOf(kDremorTexts, status, "Dremor"); }

std::string KorvelOpenFailureText(uint16_t status) {
  return status == KORVEL_ERR_NO_DRIVER ? PortDriverFailureText() : KorvelStatusText(status);
}

std::string DremorOpenFailureText(uint16_t status, unsigned board) {
  if (status == DREMOR_ERR_NO_DRIVER) return PortDriverFailureText();
  if (status != DREMOR_ERR_NO_INTERRUPT_DEVICE) return DremorStatusText(status);
  // The interrupt driver makes a device for each board it finds: a machine
  // without the board has no device to open either.
  const std::optional<unsigned> fitted = MultifunctionBoardsFitted();
  if (fitted && *fitted <= board) {
    return *fitted == 0 ? "there is no multifunction board on this machine"
                        : fmt::format("there is no multifunction board {} on this machine (boards fitted: {})",
                                      board, *fitted);
  }
  const std::string device = fmt::format("{}{}", VARNO_DEVICE_PREFIX, board);
  std::optional<std::string> cause = OpenFailureCause("the board's interrupt driver", device);
  if (!cause) return DremorStatusText(status);
  if (!fitted && ProbeDevice(device) == DeviceState::kAbsent) {
    *cause += fmt::format(", or there is no multifunction board {} (the driver makes a device for each board)", board);
  }
  return *cause;
}

}  // namespace daqctl
