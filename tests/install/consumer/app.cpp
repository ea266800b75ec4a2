// The libraries from C++ with the standard library, as the MinGW C++ recipe
// builds it (the compiler's runtime linked in, so the program needs no DLL of
// MinGW's). Windows only: under Wine there is no port-access driver, so the
// hardware DLLs answer without reaching a port.
#if !defined(_WIN32)
#error "a Windows program: on Linux the hardware libraries would reach the machine's ports"
#endif
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "dremor.h"
#include "korvel.h"

int main() {
  std::vector<std::string> failures;
  auto expect = [&](const std::string& what, long actual, long expected) {
    std::cout << what << ": " << actual << '\n';
    if (actual != expected) failures.push_back(what + " should be " + std::to_string(expected));
  };
  unsigned short relayBoards = 0x5A5A, varnoBoards = 0x5A5A;
  expect("PCI_GetDllVersion", PCI_GetDllVersion(), KORVEL_DLL_VERSION);
  expect("VARNO_GetDllVersion", VARNO_GetDllVersion(), DREMOR_DLL_VERSION);
  expect("PCI_DriverInit", PCI_DriverInit(&relayBoards), KORVEL_ERR_NO_DRIVER);
  expect("relay boards (untouched)", relayBoards, 0x5A5A);
  expect("VARNO_DriverInit", VARNO_DriverInit(&varnoBoards), DREMOR_ERR_NO_INTERRUPT_DEVICE);
  expect("multifunction boards (untouched)", varnoBoards, 0x5A5A);
  std::ostringstream difference;
  difference << PCI_FloatSub2(0.75f, 0.5f) << ' ' << VARNO_FloatSub(2.0f, 0.5f);
  expect("float results read as '0.25 1.5'", difference.str() == "0.25 1.5", 1);
  for (const std::string& f : failures) std::cerr << "FAILED: " << f << '\n';
  std::cout << (failures.empty() ? "ok" : "FAILED") << '\n';
  return failures.empty() ? 0 : 1;
}
