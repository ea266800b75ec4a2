// What the tests of both hardware DLLs share: the DLL loaded with LoadLibrary
// as an application loads it, its export table held against the tests' own
// list, and calls made through raw stdcall slots, each checked to leave the
// stack as it found it. Runs under Wine, which has no "\\.\kelvra" and no
// "\\.\VARNOn": a correct DLL reports its statuses and never executes a port
// instruction (which would kill the process with a privileged-instruction
// fault).
#ifndef DAQ_TESTS_HARDWARE_DLL_TEST_H
#define DAQ_TESTS_HARDWARE_DLL_TEST_H

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dynlib.h"
#include "export_lists.h"
#include "slot_cast.h"
#include "stdcall_probe.h"

namespace daqtest {

// The two DLLs: file name and the tests' list of exports.
struct KorvelDll {
  static constexpr const char* kFile = "Korvel.dll";
  static constexpr const ExportRow* Exports() { return kKorvelExports; }
  static constexpr size_t kExportCount = sizeof kKorvelExports / sizeof kKorvelExports[0];
};
struct DremorDll {
  static constexpr const char* kFile = "Dremor.dll";
  static constexpr const ExportRow* Exports() { return kDremorExports; }
  static constexpr size_t kExportCount = sizeof kDremorExports / sizeof kDremorExports[0];
};

// Garbage above an argument's stated width in its 32-bit slot.
inline constexpr uint32_t kJunk = 0xC0DE0000u;

template <class Dll>
class DllTest : public ::testing::Test {
 protected:
  DllTest() : file_(Dll::kFile), dll_(Dll::kFile), exports_(Dll::Exports(), Dll::Exports() + Dll::kExportCount) {}

  void SetUp() override { ASSERT_TRUE(dll_.loaded()) << "LoadLibrary(" << file_ << ") failed"; }

  // Calls export `name` with `slots` pushed right to left. The call must take
  // exactly the argument bytes of the export list and leave ESP where it was
  // before the pushes (a stdcall callee removes its own arguments).
  ProbeResult Call(const char* name, std::vector<uint32_t> slots, bool floatResult = false) {
    const ExportRow* row = Row(name);
    EXPECT_NE(row, nullptr) << name << " is not in the export list";
    if (row) {
      EXPECT_EQ(4 * slots.size(), row->argBytes) << name << ": a test passes the wrong number of slots";
    }
    const void* fn = dll_.Symbol(name);
    EXPECT_NE(fn, nullptr) << name;
    if (!fn) return ProbeResult{};
    const ProbeResult r = ProbeStdcall(fn, std::move(slots), floatResult);
    EXPECT_EQ(r.espDelta, 0) << name << " left the stack unbalanced";
    return r;
  }
  uint16_t Status(const char* name, std::vector<uint32_t> slots) { return uint16_t(Call(name, std::move(slots)).eax); }

  // Every export of the list resolves by its undecorated name and by its
  // ordinal to the same function; nothing sits at ordinal 1 or after the last
  // ordinal, and no decorated name is exported.
  void ExpectTheExportTable() {
    unsigned last = 0;
    for (const ExportRow& e : exports_) {
      void* byName = dll_.Symbol(e.name);
      EXPECT_NE(byName, nullptr) << e.name;
      EXPECT_EQ(dll_.Ordinal(e.ordinal), byName) << e.name << " @" << e.ordinal;
      const std::string decorated = "_" + std::string(e.name) + "@" + std::to_string(e.argBytes);
      EXPECT_EQ(dll_.Symbol(decorated.c_str()), nullptr) << decorated << ": names are exported undecorated";
      if (e.ordinal > last) last = e.ordinal;
    }
    EXPECT_EQ(dll_.Ordinal(1), nullptr) << "ordinal 1 is not assigned";
    EXPECT_EQ(dll_.Ordinal(last + 1), nullptr) << "nothing beyond ordinal " << last;
  }

  // DllMain answers TRUE for every reason: a second load and an unload work
  // and touch nothing.
  void ExpectLoadingAndUnloadingToWork() {
    HMODULE again = LoadLibraryA(file_);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(FreeLibrary(again));
  }

 private:
  const ExportRow* Row(const char* name) const {
    for (const ExportRow& e : exports_) {
      if (std::string(e.name) == name) return &e;
    }
    return nullptr;
  }

  const char* file_;
  DynamicLibrary dll_;
  std::vector<ExportRow> exports_;
};

}  // namespace daqtest

#endif
