// The scenario loader: what a file puts on the bench, and every refusal with
// the file and the key's path.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "daqsim/scenario.h"

namespace {

using daqsim::Bench;
using daqsim::MultifunctionBoard;
using daqsim::PciLocation;
using daqsim::RelayBoard;
using daqsim::Scenario;
using daqsim::ScenarioError;

// The message a refusal of `text` gives, or "" when it is accepted.
std::string Refusal(const std::string& text) {
  try {
    daqsim::ParseScenario(text, "t.json");
  } catch (const ScenarioError& e) {
    return e.what();
  }
  return "";
}

std::string RefusalApplied(const std::string& text) {
  Bench& bench = Bench::Instance();
  bench.Reset();
  try {
    daqsim::ApplyScenario(daqsim::ParseScenario(text, "t.json"), bench, "t.json");
  } catch (const ScenarioError& e) {
    return e.what();
  }
  return "";
}

std::string Board(const std::string& fields) { return R"({"boards": [{)" + fields + "}]}"; }
std::string Varno(const std::string& fields) { return Board(R"("model": "VARNO", )" + fields); }
std::string Channel3(const std::string& signal) { return Varno(R"("channels": {"3": )" + signal + "}"); }

TEST(ScenarioFile, EveryRefusalNamesTheFileTheKeysPathAndTheProblem) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"[1, 2]", "scenario t.json: the top level must be an object"},
      {"{\"boards\": [", "scenario t.json: not valid JSON: parse error at line 1"},
      {deep, "scenario t.json: [0][0][0]"},
      {deep, "nested deeper than 32 levels"},
      {R"({"boards": [{"model": "KORVEL", "bus": [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]}]})",
       "boards[0].bus[0]"},
      {R"({"stock_device": false})", "scenario t.json: stock_device: unknown key; a scenario has description"},
      {R"({"stock_devices": "yes"})", "stock_devices: must be true or false"},
      {R"({"description": 7})", "description: must be a string"},
      {R"({"host": "macos"})", "host: unknown host 'macos' (windows, linux)"},
      {R"({"boards": {}})", "boards: must be an array"},
      {R"({"boards": [7]})", "boards[0]: must be an object"},
      {Board(R"("bus": 1)"), "boards[0]: the board's model is missing"},
      {Board(R"("model": "KORVEL2")"), "boards[0].model: unknown board model 'KORVEL2'"},
      {Board(R"("model": "KORVEL", "colour": "red")"), "boards[0].colour: unknown key; a KORVEL board has model, bus"},
      {Board(R"("model": "KORVEL", "digital_inputs": 1)"), "boards[0].digital_inputs: unknown key"},
      {Board(R"("model": "LUMAR", "channels": {})"), "boards[0].channels: unknown key; a LUMAR board"},
      {Board(R"("model": "KORVEL", "model": "LUMAR")"), "boards[0].model: the key is given twice"},
      {Board(R"("model": "KORVEL", "inputs": "0x1FFFF")"), "boards[0].inputs: 0x1FFFF is out of range (0x0 to 0xFFFF)"},
      {Board(R"("model": "KORVEL", "inputs": 65536)"), "boards[0].inputs: 0x10000 is out of range"},
      {Board(R"("model": "LUMAR", "inputs": "0x1FF")"), "boards[0].inputs: 0x1FF is out of range (0x0 to 0xFF)"},
      {Board(R"("model": "KORVEL", "inputs": "010")"), "boards[0].inputs: '010': a leading zero is refused"},
      {Board(R"("model": "KORVEL", "inputs": "0b102")"), "boards[0].inputs: '0b102': not a binary digit: '2'"},
      {Board(R"("model": "KORVEL", "inputs": "0x")"), "boards[0].inputs: '0x': no digits"},
      {Board(R"("model": "KORVEL", "inputs": " 12")"), "not a number (decimal, 0x hex or 0b binary)"},
      {Board(R"("model": "KORVEL", "inputs": "-1")"), "boards[0].inputs: '-1': not a number"},
      {Board(R"("model": "KORVEL", "inputs": -1)"), "boards[0].inputs: must not be negative"},
      {Board(R"("model": "KORVEL", "inputs": 1.5)"), "boards[0].inputs: must be a whole number"},
      {Board(R"("model": "KORVEL", "inputs": true)"), "boards[0].inputs: must be a number"},
      {Board(R"("model": "KORVEL", "inputs": "0x10000000000000000")"), "too large"},
      {Board(R"("model": "KORVEL", "device": 32)"), "boards[0].device: 32 is out of range (0 to 31)"},
      {Board(R"("model": "KORVEL", "function": 8)"), "boards[0].function: 8 is out of range (0 to 7)"},
      {Board(R"("model": "KORVEL", "bus": 256)"), "boards[0].bus: 256 is out of range (0 to 255)"},
      {Varno(R"("counter_clock_hz": 0)"), "boards[0].counter_clock_hz: 0 is out of range (1 to 1000000000)"},
      {Varno(R"("counter_clock_hz": 2000000000)"), "counter_clock_hz: 2000000000 is out of range"},
      {Varno(R"("counter_clock_hz": "4MHz")"), "counter_clock_hz: '4MHz': not a number"},
      {Varno(R"("counter_clock_hz": 1e400)"), "not valid JSON: number overflow parsing '1e400'"},
      {Varno(R"("counter_clock_hz": 4000000.5)"), "counter_clock_hz: must be a whole number from 1 to 1000000000"},
      {Varno(R"("digital_inputs": "0x10000")"), "boards[0].digital_inputs: 0x10000 is out of range"},
      {Varno(R"("channels": [])"), "boards[0].channels: must be an object"},
      {Varno(R"("channels": {"16": {}})"), "boards[0].channels.16: 16 is out of range (0 to 15)"},
      {Varno(R"("channels": {"03": {}})"), "boards[0].channels.03: '03': a leading zero is refused"},
      {Varno(R"("channels": {"3": {}, "0x3": {}})"), "boards[0].channels.3: channel 3 is given twice"},
      {Varno(R"("channels": {"3": {}, "3": {}})"), "boards[0].channels.3: the key is given twice"},
      {Channel3("5"), "boards[0].channels.3: a signal must be an object"},
      {Channel3(R"({"kind": "sin"})"), "boards[0].channels.3.kind: unknown signal kind 'sin' (dc, sine, square"},
      {Channel3(R"({"kind": "dc", "frequency": 50})"), "boards[0].channels.3.frequency: unknown key; a dc signal"},
      {Channel3(R"({"kind": "sine", "volts": 1})"), "channels.3.volts: unknown key; a sine signal has kind"},
      {Channel3(R"({"kind": "sine", "amplitude": -1})"), "channels.3.amplitude: must be a finite number from 0 to 1000"},
      {Channel3(R"({"kind": "sine", "amplitude": "4"})"), "channels.3.amplitude: must be a number"},
      {Channel3(R"({"kind": "sine", "frequency": 2e9})"), "channels.3.frequency: must be a finite number from 0 to 1e+09"},
      {Channel3(R"({"kind": "square", "phase": 400})"), "channels.3.phase: must be a finite number from -360 to 360"},
      {Channel3(R"({"kind": "dc", "volts": 1, "offset": 2})"), "channels.3: give volts or offset, not both"},
      {Channel3(R"({"kind": "noise", "noise": 1, "rms": 2})"), "channels.3: give noise or rms, not both"},
      {Channel3(R"({"kind": "sine", "seed": 4})"), "channels.3.seed: a seed goes with noise"},
      {Channel3(R"({"kind": "noise", "noise": -0.1})"), "channels.3.noise: must be a finite number from 0"},
      {R"({"drivers": "none"})", "drivers: must be an object"},
      {R"({"drivers": {"kelvra": "missing"}})", "drivers.kelvra: unknown driver state 'missing' (installed, absent"},
      {R"({"drivers": {"varno": true}})", "drivers.varno: must be a string"},
      {R"({"drivers": {"varno_fifo_samples": 0}})", "drivers.varno_fifo_samples: 0 is out of range (1 to 16777216)"},
      {R"({"drivers": {"portio": "absent"}})", "drivers.portio: unknown key"},
      {R"({"boards": [{"model": "KORVEL", "device": 5}, {"model": "LUMAR", "device": 6},
                      {"model": "VARNO", "device": 5}]})",
       "boards[2]: slot 0:05.0 is taken by boards[0]"},
  };
  for (const auto& c : cases) {
    const std::string got = Refusal(c.text);
    EXPECT_NE(got.find(c.message), std::string::npos) << c.text.substr(0, 120) << "\n  gives: " << got;
    EXPECT_EQ(got.rfind("scenario t.json: ", 0), 0u) << got;
    EXPECT_EQ(got.find('\n'), std::string::npos) << got;
  }
}

TEST(ScenarioFile, MoreBoardsThanThePcsIoSpaceHoldsAreRefused) {
  // Every board takes a 128-port and a smaller window, 256 ports apart:
  // the space from 0x1000 to 0xEFFF holds 224 of them.
  const auto boards = [](size_t n, bool stock) {
    std::string text = std::string(R"({"stock_devices": )") + (stock ? "true" : "false") + R"(, "boards": [)";
    for (size_t i = 0; i < n; ++i) {
      text += (i ? "," : "") + std::string(R"({"model": "VARNO", "bus": )") + std::to_string(10 + i / 32) +
              R"(, "device": )" + std::to_string(i % 32) + "}";
    }
    return text + "]}";
  };
  EXPECT_EQ(daqsim::kMaxBoards, 224u);
  EXPECT_EQ(RefusalApplied(boards(224, false)), "");
  EXPECT_EQ(Bench::Instance().Functions().size(), 224u);
  EXPECT_NE(Refusal(boards(225, false)).find("boards: 225 boards: the PC's I/O space holds the ports of at most 224"),
            std::string::npos);
  EXPECT_NE(RefusalApplied(boards(224, true)).find("boards[223]: no room left for the board's ports"),
            std::string::npos);
  EXPECT_NE(Refusal(boards(100000, false)).find("100000 boards"), std::string::npos);
}

TEST(ScenarioFile, ABoardInTheSlotOfAStockDeviceIsRefused) {
  EXPECT_NE(RefusalApplied(Board(R"("model": "KORVEL", "device": 1)"))
                .find("boards[0]: slot 0:01.0 holds one of the PC's own devices (stock_devices)"),
            std::string::npos);
  EXPECT_EQ(RefusalApplied(R"({"stock_devices": false, "boards": [{"model": "KORVEL", "device": 1}]})"), "");
}

TEST(ScenarioFile, NumbersAreDecimalHexOrBinaryNeverOctal) {
  const struct {
    const char* written;
    uint16_t value;
  } cases[] = {{"0", 0},           {"\"0\"", 0},        {"\"10\"", 10},       {"\"0x10\"", 16},
               {"\"0X1f\"", 31},   {"\"0b101\"", 5},    {"\"0B11\"", 3},      {"\"0x0010\"", 16},
               {"4660", 0x1234},   {"\"65535\"", 0xFFFF}, {"6.0", 6},         {"\"0b0000000100000001\"", 0x101}};
  for (const auto& c : cases) {
    const Scenario sc = daqsim::ParseScenario(Board(std::string(R"("model": "KORVEL", "inputs": )") + c.written), "t");
    EXPECT_EQ(sc.boards.at(0).inputs, c.value) << c.written;
  }
}

TEST(ScenarioFile, AScenarioPutsItsBoardsSignalsDriversAndHostOnTheBench) {
  const std::string text = R"({
    "description": "two boards and a rack",
    "host": "linux",
    "boards": [
      {"model": "LUMAR", "bus": 2, "device": 7, "inputs": "0b10000001"},
      {"model": "VARNO", "bus": "0x1", "device": 4, "digital_inputs": "0xBEEF", "counter_clock_hz": 1e6,
       "channels": {"0": {"kind": "sine", "amplitude": 4, "frequency": 50, "phase": 90, "offset": 0.5},
                    "0xF": {"volts": -2.5},
                    "2": {"kind": "noise", "rms": 0.2, "seed": "0x10"},
                    "3": {"kind": "triangle", "amplitude": 1, "frequency": 5, "noise": 0.01, "seed": 3}}}
    ],
    "drivers": {"kelvra": "refuse", "varno": "absent", "varno_fifo_samples": 64}
  })";
  const Scenario sc = daqsim::ParseScenario(text, "t.json");
  EXPECT_EQ(sc.description, "two boards and a rack");
  Bench& bench = Bench::Instance();
  bench.Reset();
  daqsim::ApplyScenario(sc, bench, "t.json");

  const auto* lumar = dynamic_cast<RelayBoard*>(bench.At(PciLocation{2, 7, 0}));
  ASSERT_NE(lumar, nullptr);
  EXPECT_EQ(lumar->model(), daqsim::RelayModel::kLumar);
  EXPECT_EQ(lumar->inputs(), 0x81);
  auto* varno = dynamic_cast<MultifunctionBoard*>(bench.At(PciLocation{1, 4, 0}));
  ASSERT_NE(varno, nullptr);
  EXPECT_EQ(varno->state().digitalInputs, 0xBEEF);
  EXPECT_EQ(varno->CounterClockHz(), 1000000u);
  EXPECT_EQ(varno->SignalOf(0).kind(), daqsim::Signal::Kind::kSine);
  EXPECT_EQ(varno->SignalOf(0).phaseDegrees(), 90);
  EXPECT_EQ(varno->SignalOf(0).offset(), 0.5);
  EXPECT_EQ(varno->SignalOf(15).offset(), -2.5);
  EXPECT_EQ(varno->SignalOf(2).noiseRms(), 0.2);
  EXPECT_EQ(varno->SignalOf(2).seed(), 16u);
  EXPECT_EQ(varno->SignalOf(3).noiseRms(), 0.01);
  EXPECT_EQ(varno->SignalOf(1).kind(), daqsim::Signal::Kind::kDc) << "unset channels stay at 0 V";
  EXPECT_EQ(varno->SignalOf(1).offset(), 0);
  EXPECT_NE(bench.At(PciLocation{0, 0, 0}), nullptr) << "stock devices by default";

  EXPECT_EQ(bench.host(), Bench::Host::kLinux);
  EXPECT_TRUE(bench.PortAccessDriver().refusesOpen());
  ASSERT_NE(bench.VarnoDevice(0), nullptr);
  EXPECT_FALSE(bench.VarnoDevice(0)->installed());
  EXPECT_EQ(bench.VarnoDevice(0)->capacity(), 64u);
}

TEST(ScenarioFile, TheExamplesInTheSourceTreeLoad) {
  for (const char* name : {"lab_bench.json", "no_driver.json", "relay_rack.json", "linux_host.json", "small_fifo.json"}) {
    Bench& bench = Bench::Instance();
    bench.Reset();
    EXPECT_NO_THROW(daqsim::LoadScenario(bench, std::string(DAQSIM_SCENARIOS) + "/" + name)) << name;
    EXPECT_FALSE(bench.Functions().empty()) << name;
  }
}

TEST(ScenarioFile, OnlyARegularFileOfSaneSizeIsRead) {
  const std::string dir = ::testing::TempDir();
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {dir, "it is a folder, not a file"},
      {dir + "no-such-scenario.json", "cannot read scenario " + dir + "no-such-scenario.json: no such file"},
  };
  for (const auto& c : cases) {
    try {
      daqsim::ReadScenarioFile(c.path);
      ADD_FAILURE() << c.path << " was read";
    } catch (const ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  const std::string big = dir + "big-scenario.json";
  {
    std::ofstream out(big, std::ios::binary);
    const std::string spaces(1 << 20, ' ');
    out << "{";
    for (int i = 0; i < 17; ++i) out << spaces;
    out << "}";
  }
  try {
    daqsim::ReadScenarioFile(big);
    ADD_FAILURE() << "a 17 MiB file was read";
  } catch (const ScenarioError& e) {
    EXPECT_NE(std::string(e.what()).find("larger than 16 MiB"), std::string::npos) << e.what();
  }
  std::remove(big.c_str());
}

TEST(ScenarioFile, TheBuiltInBenchHasItsFourBoards) {
  Bench& bench = Bench::Instance();
  bench.Reset();
  daqsim::BuildBuiltInBench(bench);
  const auto* korvel = dynamic_cast<RelayBoard*>(bench.At(PciLocation{0, 5, 0}));
  const auto* lumar = dynamic_cast<RelayBoard*>(bench.At(PciLocation{1, 3, 0}));
  auto* a = dynamic_cast<MultifunctionBoard*>(bench.At(PciLocation{0, 9, 0}));
  auto* b = dynamic_cast<MultifunctionBoard*>(bench.At(PciLocation{2, 4, 0}));
  ASSERT_TRUE(korvel && lumar && a && b);
  EXPECT_EQ(korvel->inputs(), 0x0F0F);
  EXPECT_EQ(lumar->inputs(), 0xA5);
  EXPECT_EQ(a->state().digitalInputs, 0x00F1);
  EXPECT_EQ(b->state().digitalInputs, 0xBEEF);
  EXPECT_EQ(a->SignalOf(0).kind(), daqsim::Signal::Kind::kSine);
  EXPECT_EQ(bench.VarnoBoardsInScanOrder().size(), 2u);
  ASSERT_NE(bench.VarnoDevice(1), nullptr);
  EXPECT_TRUE(bench.VarnoDevice(1)->installed());
  EXPECT_FALSE(bench.VarnoDevice(2)->installed());
}

}  // namespace
