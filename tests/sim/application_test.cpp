// The bench of an application's process: set up at first use, in real time,
// bounded, and looked at through the C interface and the report.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "daqsim/daqsim.h"
#include "daqsim/scenario.h"
#include "relay_board_map.h"
#include "varno_board_map.h"
#include "varno_ioctl.h"

namespace {

using daqsim::Bench;
using daqsim::PciLocation;

constexpr uint32_t kRead = 0x80000000u;

std::string TempFile(const char* name) { return ::testing::TempDir() + name; }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class ApplicationBench : public ::testing::Test {
 protected:
  void TearDown() override { bench.Reset(); }
  uintptr_t OpenKelvra() { return bench.OpenDevice(daqsim::kPortAccessDeviceName, kRead, 0, 3, 0x80); }
  Bench& bench = Bench::Instance();
};

TEST_F(ApplicationBench, WithoutAScenarioItIsTheBuiltInBenchInRealTime) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(bench.ConfigureForApplication(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(bench.configured());
  EXPECT_TRUE(bench.clock().realTime());
  EXPECT_EQ(bench.scenarioFile(), "");
  EXPECT_EQ(bench.BoardsInScanOrder([](const daqsim::PciFunction& f) {
    return dynamic_cast<const daqsim::RelayBoard*>(&f) != nullptr;
  }).size(), 2u);
  EXPECT_EQ(bench.VarnoBoardsInScanOrder().size(), 2u);

  // The trace is off but the accesses are counted.
  ASSERT_NE(OpenKelvra(), daqsim::kInvalidHandle);
  bench.PortRead(0xCFC, 4);
  EXPECT_TRUE(bench.trace().empty());
  EXPECT_EQ(bench.portAccessCount(), 1u);
}

TEST_F(ApplicationBench, AScenarioFileIsLoadedAndABadOneLeavesNoDriversAndOneLineOnStandardError) {
  EXPECT_TRUE(bench.ConfigureForApplication((std::string(DAQSIM_SCENARIOS) + "/relay_rack.json").c_str()));
  EXPECT_EQ(bench.Functions().size(), 4u + 7u) << "four boards beside the stock devices";

  const std::string bad = TempFile("bad-scenario.json");
  std::ofstream(bad) << R"({"boards": [{"model": "KORVEL", "inputs": "0x1FFFF"}]})";
  const struct {
    std::string file;
    const char* problem;
  } cases[] = {
      {bad, "boards[0].inputs: 0x1FFFF is out of range"},
      {TempFile("missing-scenario.json"), "no such file"},
      {::testing::TempDir(), "it is a folder"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(bench.ConfigureForApplication(c.file.c_str()));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("daqsim: ", 0), 0u) << err;
    EXPECT_NE(err.find(c.file), std::string::npos) << err;
    EXPECT_NE(err.find(c.problem), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    EXPECT_EQ(bench.scenarioFile(), c.file);
    EXPECT_NE(bench.scenarioError().find(c.problem), std::string::npos);
    // Nothing to open: the libraries answer that the driver is missing.
    EXPECT_EQ(OpenKelvra(), daqsim::kInvalidHandle);
    EXPECT_EQ(bench.OpenDevice("\\\\.\\VARNO0", kRead, 0, 3, 0x80), daqsim::kInvalidHandle);
    EXPECT_TRUE(bench.Functions().empty());
    EXPECT_TRUE(bench.configured());
  }
  std::remove(bad.c_str());
}

TEST_F(ApplicationBench, InRealTimeAPortAccessTakesAtLeastItsIoCycleAndTimeNeverGoesBack) {
  bench.Reset();
  bench.AddRelayBoard(daqsim::RelayModel::kKorvel, PciLocation{0, 5, 0});
  ASSERT_NE(OpenKelvra(), daqsim::kInvalidHandle);
  bench.SetRealTime(true);
  const uint64_t start = bench.NowNs();
  constexpr int kAccesses = 20000;
  uint64_t last = start;
  bool monotonic = true;
  bench.SetTraceEnabled(true);
  for (int i = 0; i < kAccesses; ++i) bench.PortRead(0xCFC, 4);
  for (const auto& a : bench.trace()) {
    monotonic = monotonic && a.timeNs >= last;
    last = a.timeNs;
  }
  EXPECT_TRUE(monotonic);
  EXPECT_GE(bench.NowNs() - start, uint64_t(kAccesses) * daqsim::Clock::kIoCycleNs)
      << "a loop of N reads covers at least N us of bench time, however fast the reads are";
  for (size_t i = 1; i < bench.trace().size(); ++i) {
    ASSERT_GE(bench.trace()[i].timeNs - bench.trace()[i - 1].timeNs, daqsim::Clock::kIoCycleNs) << i;
  }
}

TEST_F(ApplicationBench, RecordsStayWithinTheirBound) {
  bench.Reset();
  bench.AddMultifunctionBoard(PciLocation{0, 7, 0});
  bench.InstallVarnoDevices();
  bench.SetRecordLimit(100);
  for (int i = 0; i < 1000; ++i) {
    bench.PortRead(0xCFC, 4);  // no port access: each is a fault too
    const uintptr_t h = bench.OpenDevice("\\\\.\\VARNO0", kRead, 0, 3, 0x80);
    uint32_t count = 0;
    bench.DeviceIoControl(h, IOCTL_VARNO_GET_INT_COUNT, nullptr, 0, &count, 4, nullptr);
    bench.CloseHandle(h);
  }
  EXPECT_LE(bench.trace().size(), 100u);
  EXPECT_GE(bench.trace().size(), 50u);
  EXPECT_LE(bench.faults().size(), 100u);
  EXPECT_LE(bench.opens().size(), 100u);
  EXPECT_LE(bench.ioControls().size(), 100u);
  EXPECT_LE(bench.VarnoDevice(0)->requests().size(), 100u);
  EXPECT_EQ(bench.portAccessCount(), 1000u) << "counts go on";
  EXPECT_EQ(bench.faultCount(), 1000u);
  EXPECT_EQ(bench.VarnoDevice(0)->totalOpens(), 1000u);
  // The latest entries are the ones kept.
  EXPECT_EQ(bench.trace().back().timeNs, bench.lastFault()->timeNs);
}

TEST_F(ApplicationBench, TheCInterfaceReadsAndSetsBoardsByNumberAndSlot) {
  bench.Reset();
  auto& korvel = bench.AddRelayBoard(daqsim::RelayModel::kKorvel, PciLocation{0, 8, 0});
  auto& lumar = bench.AddRelayBoard(daqsim::RelayModel::kLumar, PciLocation{0, 5, 0});
  auto& hidden = bench.AddRelayBoard(daqsim::RelayModel::kKorvel, PciLocation{12, 0, 0});  // not scanned
  auto& varno = bench.AddMultifunctionBoard(PciLocation{1, 2, 0});
  const uintptr_t kelvra = OpenKelvra();
  ASSERT_NE(kelvra, daqsim::kInvalidHandle);
  bench.PortWrite(korvel.OutputPort(), 2, 0xA55A);
  bench.PortWrite(lumar.OutputPort(), 1, 0x3C);
  bench.PortWrite(hidden.OutputPort(), 2, 0x0101);
  bench.PortWrite(varno.Port(daqsim::VarnoRegister::kDigitalIo), 2, 0x1234);

  EXPECT_EQ(DaqSimRelayOutputs(0), 0x3C) << "scan order: 0:05 before 0:08";
  EXPECT_EQ(DaqSimRelayOutputs(1), 0xA55A);
  EXPECT_EQ(DaqSimRelayOutputs(2), -1);
  EXPECT_EQ(DaqSimRelayOutputs(-1), -1);
  EXPECT_EQ(DaqSimRelayOutputsAt(12, 0, 0), 0x0101);
  EXPECT_EQ(DaqSimRelayOutputsAt(1, 2, 0), -1) << "a multifunction board has no relays";
  EXPECT_EQ(DaqSimRelayOutputsAt(0, 32, 0), -1);
  EXPECT_EQ(DaqSimDigitalOutputs(0), 0x1234);
  EXPECT_EQ(DaqSimDigitalOutputs(1), -1);
  EXPECT_EQ(DaqSimDigitalOutputsAt(1, 2, 0), 0x1234);
  EXPECT_EQ(DaqSimDigitalOutputsAt(0, 5, 0), -1);

  EXPECT_EQ(DaqSimSetRelayInputs(0, 0xFF), 0);
  EXPECT_EQ(lumar.inputs(), 0xFF);
  EXPECT_EQ(DaqSimSetRelayInputs(0, 0x100), -1) << "the LUMAR board has 8 inputs";
  EXPECT_EQ(DaqSimSetRelayInputs(1, 0xFFFF), 0);
  EXPECT_EQ(korvel.inputs(), 0xFFFF);
  EXPECT_EQ(DaqSimSetRelayInputs(1, 0x10000), -1);
  EXPECT_EQ(DaqSimSetDigitalInputs(0, 0xBEEF), 0);
  EXPECT_EQ(varno.state().digitalInputs, 0xBEEF);
  EXPECT_EQ(DaqSimSetDigitalInputs(3, 1), -1);

  DaqSimFault fault{};
  EXPECT_EQ(DaqSimFaultCount(), 0u);
  EXPECT_EQ(DaqSimLastFault(&fault), 0);
  bench.CloseHandle(kelvra);
  bench.PortWrite(korvel.OutputPort(), 2, 0x7777);
  EXPECT_EQ(DaqSimFaultCount(), 1u);
  ASSERT_EQ(DaqSimLastFault(&fault), 1);
  EXPECT_EQ(fault.port, korvel.OutputPort());
  EXPECT_EQ(fault.width, 2u);
  EXPECT_EQ(fault.write, 1u);
  EXPECT_EQ(fault.value, 0x7777u);
  EXPECT_EQ(DaqSimPortAccessCount(), 5u);
  EXPECT_EQ(DaqSimOpenHandles(), 0u);
  bench.Sleep(3);
  EXPECT_EQ(DaqSimSleepCalls(), 1u);
}

TEST_F(ApplicationBench, TheReportHoldsTheBoardsAndTheCounts) {
  bench.Reset();
  auto& korvel = bench.AddRelayBoard(daqsim::RelayModel::kKorvel, PciLocation{0, 5, 0});
  auto& varno = bench.AddMultifunctionBoard(PciLocation{0, 6, 0});
  varno.SetDigitalInputs(0x00F1);
  const uintptr_t h = OpenKelvra();
  bench.PortWrite(korvel.OutputPort(), 2, 0x00FF);
  bench.PortWrite(varno.Port(daqsim::VarnoRegister::kDigitalIo), 2, 0x0F0F);
  bench.CloseHandle(h);
  bench.PortRead(korvel.InputPort(), 2);

  const std::string path = TempFile("bench-report.json");
  ASSERT_EQ(DaqSimWriteReport(path.c_str()), 0);
  const auto r = nlohmann::json::parse(Slurp(path));
  std::remove(path.c_str());
  EXPECT_EQ(r["port_accesses"], 3);
  EXPECT_EQ(r["faults"], 1);
  EXPECT_EQ(r["last_fault"]["port"], korvel.InputPort());
  EXPECT_EQ(r["last_fault"]["write"], false);
  EXPECT_EQ(r["open_handles"], 0);
  EXPECT_TRUE(r["scenario"].is_null());
  ASSERT_EQ(r["relay_boards"].size(), 1u);
  EXPECT_EQ(r["relay_boards"][0]["slot"], "0:05.0");
  EXPECT_EQ(r["relay_boards"][0]["board"], 0);
  EXPECT_EQ(r["relay_boards"][0]["model"], "KORVEL");
  EXPECT_EQ(r["relay_boards"][0]["outputs"], 0x00FF);
  ASSERT_EQ(r["multifunction_boards"].size(), 1u);
  EXPECT_EQ(r["multifunction_boards"][0]["digital_outputs"], 0x0F0F);
  EXPECT_EQ(r["multifunction_boards"][0]["digital_inputs"], 0x00F1);

  EXPECT_EQ(DaqSimWriteReport((::testing::TempDir() + "no-such-folder/r.json").c_str()), -1);
  EXPECT_EQ(DaqSimWriteReport(nullptr), -1);
}

}  // namespace
