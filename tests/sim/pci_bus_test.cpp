// The bench's PCI configuration mechanism #1 and I/O decoding, driven through
// the same port entry points the libraries use.
#include <gtest/gtest.h>

#include <memory>

#include "daqsim/bench.h"
#include "trace_util.h"

namespace {

using daqsim::Bar;
using daqsim::BarSet;
using daqsim::Bench;
using daqsim::PciFunction;
using daqsim::PciIdentity;
using daqsim::PciLocation;
using daqtest::ConfigAddress;

class PciBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bench.Reset();
    handle = bench.OpenDevice(daqsim::kPortAccessDeviceName, 0x80000000u, 0, 3, 0x80);
    ASSERT_NE(handle, daqsim::kInvalidHandle);
  }
  void TearDown() override { EXPECT_TRUE(bench.faults().empty()); }

  PciFunction& Place(PciLocation at, uint16_t vendor, uint16_t device, const BarSet& bars = {}) {
    PciIdentity id;
    id.vendorId = vendor;
    id.deviceId = device;
    id.classCode = 0x118000;
    id.revision = 0x07;
    return bench.Add(at, std::make_unique<PciFunction>(id, bars, 0x0B, 0x01));
  }

  Bench& bench = Bench::Instance();
  uintptr_t handle = 0;
};

TEST_F(PciBusTest, DataWindowReadsAnyWidthAtAnyOffset) {
  Place({3, 17, 5}, 0x1234, 0x5C21);
  bench.PortWrite(0xCF8, 4, ConfigAddress(3, 17, 5, 0));
  const struct {
    uint16_t port;
    unsigned width;
    uint32_t want;
  } cases[] = {
      {0xCFC, 4, 0x5C211234}, {0xCFC, 2, 0x1234}, {0xCFE, 2, 0x5C21}, {0xCFC, 1, 0x34},
      {0xCFD, 1, 0x12},       {0xCFE, 1, 0x21},   {0xCFF, 1, 0x5C},   {0xCFD, 2, 0x2112},
      // Bytes past 0xCFF are not part of the window and float high.
      {0xCFE, 4, 0xFFFF5C21}, {0xCFF, 2, 0xFF5C},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bench.PortRead(c.port, c.width), c.want) << std::hex << c.port << " width " << c.width;
  }
  // Register 2: class code and revision.
  bench.PortWrite(0xCF8, 4, ConfigAddress(3, 17, 5, 2));
  EXPECT_EQ(bench.PortRead(0xCFC, 4), 0x11800007u);
}

TEST_F(PciBusTest, ReadsFloatHighWithoutEnableBitOrDevice) {
  Place({0, 4, 0}, 0x1234, 0x5C21);
  const struct {
    uint32_t address;
    const char* why;
  } cases[] = {
      {ConfigAddress(0, 4, 0, 0) & 0x7FFFFFFFu, "enable bit clear"},
      {ConfigAddress(0, 5, 0, 0), "empty slot"},
      {ConfigAddress(0, 4, 1, 0), "function 1 of a single-function device"},
      {ConfigAddress(1, 4, 0, 0), "other bus"},
  };
  for (const auto& c : cases) {
    bench.PortWrite(0xCF8, 4, c.address);
    EXPECT_EQ(bench.PortRead(0xCFC, 4), 0xFFFFFFFFu) << c.why;
    EXPECT_EQ(bench.PortRead(0xCFE, 2), 0xFFFFu) << c.why;
    EXPECT_EQ(bench.PortRead(0xCFF, 1), 0xFFu) << c.why;
  }
}

TEST_F(PciBusTest, AddressLatchTakesOnlyFullDwordWrites) {
  Place({0, 4, 0}, 0x1234, 0x5C21);
  bench.PortWrite(0xCF8, 4, ConfigAddress(0, 4, 0, 0));
  EXPECT_EQ(bench.PortRead(0xCF8, 4), ConfigAddress(0, 4, 0, 0));
  bench.PortWrite(0xCF8, 1, 0x00);  // a byte write there is another chipset register
  bench.PortWrite(0xCFA, 2, 0x0000);
  EXPECT_EQ(bench.PortRead(0xCF8, 4), ConfigAddress(0, 4, 0, 0));
  EXPECT_EQ(bench.PortRead(0xCFC, 2), 0x1234);
}

TEST_F(PciBusTest, WholeAddressSpaceIsReachable) {
  const PciLocation corners[] = {{0, 0, 0}, {255, 31, 7}, {128, 16, 3}, {9, 31, 0}};
  uint16_t device = 0x100;
  for (const auto& at : corners) Place(at, 0x4444, device++);
  device = 0x100;
  for (const auto& at : corners) {
    bench.PortWrite(0xCF8, 4, ConfigAddress(at.bus, at.device, at.function, 0));
    EXPECT_EQ(bench.PortRead(0xCFC, 4), uint32_t(device++) << 16 | 0x4444u);
  }
}

TEST_F(PciBusTest, FunctionZeroAnnouncesFurtherFunctions) {
  Place({0, 1, 0}, 0x1111, 1);
  Place({0, 2, 0}, 0x1111, 2);
  auto headerType = [&](unsigned dev) {
    bench.PortWrite(0xCF8, 4, ConfigAddress(0, dev, 0, 3));
    return bench.PortRead(0xCFE, 1);
  };
  EXPECT_EQ(headerType(1), 0x00u);
  Place({0, 1, 4}, 0x1111, 3);
  EXPECT_EQ(headerType(1), 0x80u);
  EXPECT_EQ(headerType(2), 0x00u);
  bench.Remove({0, 1, 4});
  EXPECT_EQ(headerType(1), 0x00u);
}

TEST_F(PciBusTest, BarSizingAndReprogrammingMoveTheDecodedWindow) {
  BarSet bars{};
  bars[0] = Bar::Memory(0xFEBF0000, 0x1000);
  bars[2] = Bar::Io(0xE100, 0x10);
  Place({0, 6, 0}, 0x1234, 0x5C21, bars);
  auto bar = [&](unsigned i) {
    bench.PortWrite(0xCF8, 4, ConfigAddress(0, 6, 0, 4 + i));
    return bench.PortRead(0xCFC, 4);
  };
  EXPECT_EQ(bar(0), 0xFEBF0000u);
  EXPECT_EQ(bar(1), 0u) << "unimplemented BAR";
  EXPECT_EQ(bar(2), 0xE101u);

  // Firmware sizing: write all ones, read back the size mask.
  const uint32_t sizes[][2] = {{0, 0xFFFFF000u}, {1, 0}, {2, 0xFFFFFFF1u}};
  for (const auto& s : sizes) {
    bench.PortWrite(0xCF8, 4, ConfigAddress(0, 6, 0, 4 + s[0]));
    bench.PortWrite(0xCFC, 4, 0xFFFFFFFFu);
    EXPECT_EQ(bar(s[0]), s[1]) << "BAR" << s[0];
  }
  // Move the I/O window; the function decodes it at once.
  bench.PortWrite(0xCF8, 4, ConfigAddress(0, 6, 0, 6));
  bench.PortWrite(0xCFC, 4, 0x0000D205);  // the low two bits are read-only
  EXPECT_EQ(bar(2), 0xD201u);
  EXPECT_EQ(bench.At({0, 6, 0})->bar(2).base, 0xD200u);

  // Read-only registers ignore writes; the interrupt line takes them.
  bench.PortWrite(0xCF8, 4, ConfigAddress(0, 6, 0, 0));
  bench.PortWrite(0xCFC, 4, 0);
  EXPECT_EQ(bench.PortRead(0xCFC, 2), 0x1234u);
  bench.PortWrite(0xCF8, 4, ConfigAddress(0, 6, 0, 15));
  bench.PortWrite(0xCFC, 1, 0x05);
  EXPECT_EQ(bench.PortRead(0xCFC, 2), 0x0105u);
}

TEST_F(PciBusTest, StockDevicesLookLikeAPcAndDecodeNothingOfTheBoards) {
  bench.AddStockPcDevices();
  unsigned found = 0;
  for (unsigned bus = 0; bus < 2; ++bus) {
    for (unsigned dev = 0; dev < 32; ++dev) {
      bench.PortWrite(0xCF8, 4, ConfigAddress(bus, dev, 0, 0));
      if (bench.PortRead(0xCFC, 2) != 0xFFFF) ++found;
    }
  }
  EXPECT_EQ(found, 5u);
  bench.PortWrite(0xCF8, 4, ConfigAddress(0, 1, 0, 3));
  EXPECT_EQ(bench.PortRead(0xCFE, 1) & 0x80u, 0x80u) << "the ISA bridge is multi-function";
  bench.PortWrite(0xCF8, 4, ConfigAddress(0, 0, 0, 2));
  EXPECT_EQ(bench.PortRead(0xCFC, 4) >> 8, 0x060000u) << "host bridge class";
}

}  // namespace
