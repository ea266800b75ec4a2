// The exports of a freshly loaded Korvel library, typed as korvel.h declares them.
#ifndef DAQ_TESTS_SUPPORT_KORVEL_API_H
#define DAQ_TESTS_SUPPORT_KORVEL_API_H

#include <memory>

#include "dynlib.h"
#include "korvel.h"

namespace daqtest {

#if defined(_WIN32)
inline constexpr const char* kKorvelFile = "Korvel.dll";
#else
inline constexpr const char* kKorvelFile = "libKorvel.so";
#endif

// Reinterprets an export as taking and returning whole 32-bit slots, to call
// it with garbage in the bits above an argument's stated width.
template <class To, class From>
To SlotCast(From f) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)(void)>(f));
}

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
