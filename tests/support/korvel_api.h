// The exports of a freshly loaded Korvel library, typed as korvel.h declares them.
#ifndef DAQ_TESTS_SUPPORT_KORVEL_API_H
#define DAQ_TESTS_SUPPORT_KORVEL_API_H

#include <memory>

#include "dynlib.h"
#include "slot_cast.h"
#include "korvel.h"

namespace daqtest {

// The library file, as the build names it: a full path on Linux (dlopen's
// search would start from whoever called it, which under AddressSanitizer is
// the sanitizer runtime), the bare name on Windows (found beside the program).
#if !defined(DAQ_KORVEL_FILE)
#error "the build defines DAQ_KORVEL_FILE"
#endif
inline constexpr const char* kKorvelFile = DAQ_KORVEL_FILE;

struct KorvelApi {
  std::unique_ptr<DynamicLibrary> lib;
#define KORVEL_EXPORT(name) decltype(&::name) name = nullptr;
#include "korvel_exports.inc"
#undef KORVEL_EXPORT

  // Loads the library afresh; every export must resolve.
  static KorvelApi Load() {
    KorvelApi api;
    api.lib = std::make_unique<DynamicLibrary>(kKorvelFile);
#define KORVEL_EXPORT(name) api.name = api.lib->Get<decltype(&::name)>(#name);
#include "korvel_exports.inc"
#undef KORVEL_EXPORT
    return api;
  }

  bool complete() const {
    bool ok = lib && lib->loaded();
#define KORVEL_EXPORT(name) ok = ok && name != nullptr;
#include "korvel_exports.inc"
#undef KORVEL_EXPORT
    return ok;
  }
};

}  // namespace daqtest

#endif
