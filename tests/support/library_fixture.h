// The fixture both libraries' suites are built on: an empty bench and the
// library loaded afresh for every test; after each test, the checks that
// hold for every test of either library.
#ifndef DAQ_TESTS_SUPPORT_LIBRARY_FIXTURE_H
#define DAQ_TESTS_SUPPORT_LIBRARY_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "daqsim/bench.h"
#include "library_api.h"
#include "slot_cast.h"
#include "trace_util.h"

namespace daqtest {

using daqsim::Bar;
using daqsim::BarSet;
using daqsim::Bench;
using daqsim::PciLocation;

// What an output holds before a call that must not write it.
inline constexpr uint16_t kUntouched = 0xBEEF;

// The kernel devices' names, as the tests expect the libraries to open them.
inline const std::string kKelvra = "\\\\.\\kelvra";
inline std::string Varno(unsigned n) { return "\\\\.\\VARNO" + std::to_string(n); }

template <class Api>
class LibraryTest : public ::testing::Test {
 protected:
  explicit LibraryTest(const char* file) : file_(file) {}

  void SetUp() override {
    bench().Reset();
    Load();
  }
  void TearDown() override {
    if (expectNoFaults) {
      EXPECT_TRUE(bench().faults().empty()) << "port access without the driver held";
    }
    EXPECT_EQ(bench().badCloses(), 0u) << "a handle that was not open was closed";
  }

  static Bench& bench() { return Bench::Instance(); }

  // Unloads the library and loads it afresh: its state is back at the load
  // values. (Loading before unloading would only raise the reference count.)
  void Reload() {
    api = Api{};
    Load();
  }

  // Calls a DriverInit export with a count word holding kUntouched; keeps what
  // it left there in lastCount.
  template <class Init>
  uint16_t RunInit(Init init) {
    uint16_t count = kUntouched;
    const uint16_t status = init(&count);
    lastCount = count;
    return status;
  }

  // Plain PCI functions of the given identities, each decoding `bars`.
  struct FunctionAt {
    PciLocation at;
    uint16_t vendorId, deviceId;
  };
  static void AddFunctions(const std::vector<FunctionAt>& functions, const BarSet& bars) {
    for (const FunctionAt& f : functions) {
      daqsim::PciIdentity id;
      id.vendorId = f.vendorId;
      id.deviceId = f.deviceId;
      bench().Add(f.at, std::make_unique<daqsim::PciFunction>(id, bars, 11, 1));
    }
  }

  std::vector<std::string> OpenNames() const {
    std::vector<std::string> names;
    for (const auto& o : bench().opens()) names.push_back(o.name);
    return names;
  }

  Api api;
  uint16_t lastCount = kUntouched;
  // Cleared by the few tests that make port accesses without the driver on
  // purpose.
  bool expectNoFaults = true;

 private:
  void Load() {
    api = Api::Load(file_);
    ASSERT_TRUE(api.complete()) << "cannot load " << file_;
  }
  const char* file_;
};

// Both libraries export a - b of two floats and of two 16-bit integers
// (wrapping modulo 2^16); the same cases hold for both pairs. The 16-bit
// export is also called with garbage above each argument's 16 bits.
template <class FloatSub, class ShortSub>
void ExpectTheArithmeticExports(FloatSub floatSub, ShortSub shortSub) {
  const struct {
    float a, b, want;
  } floats[] = {{1.5f, 0.25f, 1.25f},
                {0.1f, 0.2f, 0.1f - 0.2f},
                {1e30f, -1e30f, 2e30f},
                {-0.0f, 0.0f, -0.0f},
                {3.4e38f, -3.4e38f, std::numeric_limits<float>::infinity()}};
  for (const auto& c : floats) EXPECT_EQ(Bits(floatSub(c.a, c.b)), Bits(c.want)) << c.a << " - " << c.b;
  const struct {
    int16_t a, b, want;
  } shorts[] = {{-32768, 1, 32767}, {32767, -1, -32768}, {5, 7, -2}, {0, -32768, -32768}};
  for (const auto& c : shorts) EXPECT_EQ(shortSub(c.a, c.b), c.want) << c.a << " - " << c.b;
  EXPECT_EQ(uint16_t(SlotCall<uint32_t>(shortSub, 0xABCD8000u, 0x12340001u)), 32767);
}

// The accesses of one walk of buses 0-9, devices 0-31, function 0, as both
// libraries make it: for every slot, register 0 selected at 0xCF8, the vendor
// ID read at 0xCFC and the device ID at 0xCFE; and right after the slot of
// each board in `recorded`, every register of `boardRegisters` selected and
// read whole at 0xCFC. The values read are the bench's.
inline std::vector<Access> ExpectedBusWalk(const std::vector<PciLocation>& recorded,
                                           const std::vector<unsigned>& boardRegisters) {
  std::vector<Access> out;
  for (unsigned bus = 0; bus < 10; ++bus) {
    for (unsigned dev = 0; dev < 32; ++dev) {
      out.push_back(Out(4, 0xCF8, ConfigAddress(bus, dev, 0, 0)));
      const daqsim::PciFunction* fn = Bench::Instance().At(PciLocation{uint8_t(bus), uint8_t(dev), 0});
      const uint32_t id = fn ? fn->ConfigDword(0) : 0xFFFFFFFFu;
      out.push_back(In(2, 0xCFC, id & 0xFFFF));
      out.push_back(In(2, 0xCFE, id >> 16));
      for (const PciLocation& at : recorded) {
        if (at.bus != bus || at.device != dev) continue;
        for (unsigned reg : boardRegisters) {
          out.push_back(Out(4, 0xCF8, ConfigAddress(bus, dev, 0, reg)));
          out.push_back(In(4, 0xCFC, fn->ConfigDword(4 * reg)));
        }
      }
    }
  }
  return out;
}

}  // namespace daqtest

#endif
