// Loads a shared library by file name and resolves its exports, so that each
// test gets a freshly loaded library (with its process-wide state at its load
// values) and calls it across the library boundary, the way applications do.
#ifndef DAQ_TESTS_SUPPORT_DYNLIB_H
#define DAQ_TESTS_SUPPORT_DYNLIB_H

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace daqtest {

class DynamicLibrary {
 public:
  explicit DynamicLibrary(const std::string& file) {
#if defined(_WIN32)
    handle_ = LoadLibraryA(file.c_str());
#else
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
  }
  ~DynamicLibrary() {
    if (!handle_) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
  }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }

  void* Symbol(const char* name) const {
    if (!handle_) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
  }

#if defined(_WIN32)
  void* Ordinal(unsigned ordinal) const {
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
  }
#endif

  template <class F>
  F Get(const char* name) const {
    return reinterpret_cast<F>(Symbol(name));
  }

 private:
  void* handle_ = nullptr;
};

}  // namespace daqtest

#endif
