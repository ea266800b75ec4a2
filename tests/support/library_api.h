// The exports of a freshly loaded library, typed as its header declares them.
// Each test loads the library afresh, so its process-wide state starts at its
// load values, and calls it across the library boundary as applications do.
#ifndef DAQ_TESTS_SUPPORT_LIBRARY_API_H
#define DAQ_TESTS_SUPPORT_LIBRARY_API_H

#include <memory>

#include "dynlib.h"
#include "export_lists.h"

namespace daqtest {

// A struct with one typed function pointer per export of LIST, and a visit of
// them all by name.
#define DAQTEST_API_FIELD(name, ordinal, bytes) decltype(&::name) name = nullptr;
#define DAQTEST_API_VISIT(name, ordinal, bytes) visit(#name, name);
#define DAQTEST_DEFINE_EXPORTS(Struct, LIST)  \
  struct Struct {                             \
    LIST(DAQTEST_API_FIELD)                   \
    template <class Visit>                    \
    void ForEach(Visit&& visit) {             \
      LIST(DAQTEST_API_VISIT)                 \
    }                                         \
  }

template <class Exports>
struct LibraryApi : Exports {
  std::unique_ptr<DynamicLibrary> lib;

  // Loads the library file afresh and resolves every export by name. On Linux
  // the file is a full path (dlopen's search would start from whoever called
  // it, which under AddressSanitizer is the sanitizer runtime), on Windows the
  // bare name (found beside the program).
  static LibraryApi Load(const char* file) {
    LibraryApi api;
    api.lib = std::make_unique<DynamicLibrary>(file);
    api.ForEach([&](const char* name, auto& fn) { fn = api.lib->template Get<std::decay_t<decltype(fn)>>(name); });
    return api;
  }

  // Loaded, with every export resolved.
  bool complete() {
    bool ok = lib && lib->loaded();
    this->ForEach([&](const char*, auto& fn) { ok = ok && fn != nullptr; });
    return ok;
  }
};

}  // namespace daqtest

#endif
