// The exports of a freshly loaded Dremor library, typed as dremor.h declares them.
#ifndef DAQ_TESTS_SUPPORT_DREMOR_API_H
#define DAQ_TESTS_SUPPORT_DREMOR_API_H

#include <memory>

#include "dremor.h"
#include "dynlib.h"
#include "slot_cast.h"

namespace daqtest {

// The library file, as the build names it: a full path on Linux (dlopen's
// search would start from whoever called it, which under AddressSanitizer is
// the sanitizer runtime), the bare name on Windows (found beside the program).
#if !defined(DAQ_DREMOR_FILE)
#error "the build defines DAQ_DREMOR_FILE"
#endif
inline constexpr const char* kDremorFile = DAQ_DREMOR_FILE;

struct DremorApi {
  std::unique_ptr<DynamicLibrary> lib;
#define DREMOR_EXPORT(name) decltype(&::name) name = nullptr;
#include "dremor_exports.inc"
#undef DREMOR_EXPORT

  // Loads the library afresh; every export must resolve.
  static DremorApi Load() {
    DremorApi api;
    api.lib = std::make_unique<DynamicLibrary>(kDremorFile);
#define DREMOR_EXPORT(name) api.name = api.lib->Get<decltype(&::name)>(#name);
#include "dremor_exports.inc"
#undef DREMOR_EXPORT
    return api;
  }

  bool complete() const {
    bool ok = lib && lib->loaded();
#define DREMOR_EXPORT(name) ok = ok && name != nullptr;
#include "dremor_exports.inc"
#undef DREMOR_EXPORT
    return ok;
  }
};

}  // namespace daqtest

#endif
