#include "daqsim/scenario.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

namespace daqsim {
namespace {

using nlohmann::json;

[[noreturn]] void Refuse(const std::string& file, const std::string& path, const std::string& what) {
  throw ScenarioError("scenario " + file + ": " + (path.empty() ? "" : path + ": ") + what);
}

// A string from the file, cut short for a message.
std::string Quoted(const std::string& s) {
  constexpr size_t kShown = 40;
  return "'" + (s.size() <= kShown ? s : s.substr(0, kShown) + "...") + "'";
}

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string Slot(const PciLocation& at) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u:%02u.%u", unsigned(at.bus), unsigned(at.device), unsigned(at.function));
  return buf;
}

std::string Join(std::initializer_list<const char*> names) {
  std::string out;
  for (const char* n : names) out += (out.empty() ? "" : ", ") + std::string(n);
  return out;
}

// Reads a number written as text: decimal digits, 0x and hex digits, or 0b
// and binary digits, nothing else (no sign, no spaces). A decimal number
// with a leading zero is refused: C would read "010" as octal 8, a person
// means 10, and the bench cannot tell which was meant. Returns false with
// the reason in *why.
bool NumberFromText(const std::string& s, uint64_t* value, std::string* why) {
  unsigned base = 10;
  size_t first = 0;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    first = 2;
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'b' || s[1] == 'B')) {
    base = 2;
    first = 2;
  } else if (s.size() >= 2 && s[0] == '0') {
    *why = "a leading zero is refused (it is not read as octal): write the number in decimal without "
           "it, or as 0x hex or 0b binary";
    return false;
  }
  if (first == s.size()) {
    *why = "no digits";
    return false;
  }
  uint64_t v = 0;
  for (size_t i = first; i < s.size(); ++i) {
    const char c = s[i];
    unsigned d = 16;
    if (c >= '0' && c <= '9') d = unsigned(c - '0');
    if (c >= 'a' && c <= 'f') d = unsigned(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') d = unsigned(c - 'A' + 10);
    if (d >= base) {
      *why = base == 10 ? "not a number (decimal, 0x hex or 0b binary)"
                        : std::string("not a ") + (base == 16 ? "hex" : "binary") + " digit: '" + c + "'";
      return false;
    }
    if (v > (UINT64_MAX - d) / base) {
      *why = "too large";
      return false;
    }
    v = v * base + d;
  }
  *value = v;
  return true;
}

// A first pass over the text, before any document is built: the depth of
// nesting, keys given twice, and the path of the key or element being read,
// for messages. (nlohmann-json's parser callbacks would do the same, but
// they make reading an array quadratic in its length.)
class ParseGuard : public nlohmann::json_sax<json> {
 public:
  explicit ParseGuard(const std::string& file) : file_(file) {}

  bool null() override { return Element(); }
  bool boolean(bool) override { return Element(); }
  bool number_integer(number_integer_t) override { return Element(); }
  bool number_unsigned(number_unsigned_t) override { return Element(); }
  bool number_float(number_float_t, const string_t&) override { return Element(); }
  bool string(string_t&) override { return Element(); }
  bool binary(binary_t&) override { return Element(); }
  bool start_object(std::size_t) override { return Open(true); }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool key(string_t& key) override {
    Frame& top = frames_.back();
    top.key = key;
    if (!top.keys.insert(key).second) Refuse(file_, Path(), "the key is given twice");
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    // "[json.exception.parse_error.101] parse error at line 1, ...": the part for people.
    std::string what = e.what();
    const size_t bracket = what.find("] ");
    if (what.rfind("[json.exception", 0) == 0 && bracket != std::string::npos) what.erase(0, bracket + 2);
    Refuse(file_, "", "not valid JSON: " + what);
  }

 private:
  struct Frame {
    bool object;
    std::string key;   // objects: the key being read
    size_t elements;   // arrays: elements begun so far
    std::set<std::string> keys;
  };
  bool Element() {
    if (!frames_.empty() && !frames_.back().object) ++frames_.back().elements;
    return true;
  }
  bool Open(bool object) {
    Element();
    if (frames_.size() >= kMaxDepth) Refuse(file_, Path(), "nested deeper than " + std::to_string(kMaxDepth) + " levels");
    frames_.push_back(Frame{object, {}, 0, {}});
    return true;
  }
  bool Close() {
    frames_.pop_back();
    return true;
  }
  std::string Path() const {
    std::string path;
    for (const Frame& f : frames_) {
      if (f.object) {
        path += (path.empty() ? "" : ".") + f.key;
      } else if (f.elements > 0) {
        path += "[" + std::to_string(f.elements - 1) + "]";
      }
    }
    return path;
  }

  const std::string& file_;
  std::vector<Frame> frames_;
};

// Reads the checked document into a Scenario; every refusal names the key's
// path.
class Reader {
 public:
  explicit Reader(const std::string& file) : file_(file) {}

  Scenario Top(const json& j) const {
    if (!j.is_object()) Fail("", "the top level must be an object");
    OnlyKeys(j, "", {"description", "stock_devices", "host", "boards", "drivers"}, "a scenario");
    Scenario sc;
    if (j.contains("description")) sc.description = String(j["description"], "description");
    if (j.contains("stock_devices")) sc.stockDevices = Bool(j["stock_devices"], "stock_devices");
    if (j.contains("host")) {
      const std::string host = String(j["host"], "host");
      if (host == "windows") {
        sc.host = Bench::Host::kWindows;
      } else if (host == "linux") {
        sc.host = Bench::Host::kLinux;
      } else {
        Fail("host", "unknown host " + Quoted(host) + " (windows, linux)");
      }
    }
    if (j.contains("boards")) Boards(j["boards"], &sc);
    if (j.contains("drivers")) Drivers(j["drivers"], &sc);
    return sc;
  }

 private:
  [[noreturn]] void Fail(const std::string& path, const std::string& what) const { Refuse(file_, path, what); }

  static std::string Key(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  void OnlyKeys(const json& obj, const std::string& path, std::initializer_list<const char*> known,
                const std::string& owner) const {
    for (const auto& item : obj.items()) {
      bool ok = false;
      for (const char* k : known) ok = ok || item.key() == k;
      if (!ok) Fail(Key(path, item.key()), "unknown key; " + owner + " has " + Join(known));
    }
  }

  std::string String(const json& v, const std::string& path) const {
    if (!v.is_string()) Fail(path, "must be a string");
    return v.get<std::string>();
  }

  bool Bool(const json& v, const std::string& path) const {
    if (!v.is_boolean()) Fail(path, "must be true or false");
    return v.get<bool>();
  }

  // A whole number: a JSON number, or a string in decimal, 0x hex or 0b
  // binary. `hex` shows the limits in hex in messages.
  uint64_t Integer(const json& v, const std::string& path, uint64_t min, uint64_t max, bool hex = false) const {
    uint64_t n = 0;
    if (v.is_number_unsigned()) {
      n = v.get<uint64_t>();
    } else if (v.is_number_integer()) {
      Fail(path, "must not be negative");
    } else if (v.is_number_float()) {
      const double d = v.get<double>();
      if (!std::isfinite(d) || d < 0 || d != std::floor(d) || d > 1.8e19) {
        Fail(path, "must be a whole number from " + Show(min, hex) + " to " + Show(max, hex));
      }
      n = uint64_t(d);
    } else if (v.is_string()) {
      std::string why;
      if (!NumberFromText(v.get<std::string>(), &n, &why)) Fail(path, Quoted(v.get<std::string>()) + ": " + why);
    } else {
      Fail(path, "must be a number");
    }
    if (n < min || n > max) {
      Fail(path, Show(n, hex) + " is out of range (" + Show(min, hex) + " to " + Show(max, hex) + ")");
    }
    return n;
  }
  static std::string Show(uint64_t n, bool hex) { return hex ? Hex(n) : std::to_string(n); }

  // A JSON number, finite, from min to max.
  double Real(const json& v, const std::string& path, double min, double max) const {
    if (!v.is_number()) Fail(path, "must be a number");
    const double d = v.get<double>();
    if (!std::isfinite(d) || d < min || d > max) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "must be a finite number from %g to %g", min, max);
      Fail(path, buf);
    }
    return d;
  }

  void Boards(const json& v, Scenario* sc) const {
    if (!v.is_array()) Fail("boards", "must be an array");
    if (v.size() > kMaxBoards) {
      Fail("boards", std::to_string(v.size()) + " boards: the PC's I/O space holds the ports of at most " +
                         std::to_string(kMaxBoards));
    }
    std::map<uint32_t, size_t> taken;  // slot key -> board index
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string path = "boards[" + std::to_string(i) + "]";
      sc->boards.push_back(Board(v[i], path));
      const PciLocation at = sc->boards.back().at;
      const auto [it, fresh] = taken.emplace(at.Key(), i);
      if (!fresh) {
        Fail(path, "slot " + Slot(at) + " is taken by boards[" + std::to_string(it->second) + "]");
      }
    }
  }

  Scenario::Board Board(const json& b, const std::string& path) const {
    if (!b.is_object()) Fail(path, "must be an object");
    if (!b.contains("model")) Fail(path, "the board's model is missing (KORVEL, LUMAR, VARNO)");
    const std::string model = String(b["model"], Key(path, "model"));
    Scenario::Board out;
    if (model == "KORVEL" || model == "LUMAR") {
      out.model = model == "KORVEL" ? Scenario::Model::kKorvel : Scenario::Model::kLumar;
      OnlyKeys(b, path, {"model", "bus", "device", "function", "inputs"}, "a " + model + " board");
      const uint64_t width = out.model == Scenario::Model::kKorvel ? 0xFFFF : 0xFF;
      if (b.contains("inputs")) out.inputs = uint16_t(Integer(b["inputs"], Key(path, "inputs"), 0, width, true));
    } else if (model == "VARNO") {
      out.model = Scenario::Model::kVarno;
      OnlyKeys(b, path, {"model", "bus", "device", "function", "digital_inputs", "counter_clock_hz", "channels"},
               "a VARNO board");
      if (b.contains("digital_inputs")) {
        out.digitalInputs = uint16_t(Integer(b["digital_inputs"], Key(path, "digital_inputs"), 0, 0xFFFF, true));
      }
      if (b.contains("counter_clock_hz")) {
        out.counterClockHz =
            uint32_t(Integer(b["counter_clock_hz"], Key(path, "counter_clock_hz"), 1, I8254::kMaxClockHz));
      }
      if (b.contains("channels")) Channels(b["channels"], Key(path, "channels"), &out);
    } else {
      Fail(Key(path, "model"), "unknown board model " + Quoted(model) + " (KORVEL, LUMAR, VARNO)");
    }
    const auto at = [&](const char* key, uint64_t max) {
      return b.contains(key) ? uint8_t(Integer(b[key], Key(path, key), 0, max)) : uint8_t(0);
    };
    out.at = PciLocation{at("bus", 255), at("device", 31), at("function", 7)};
    return out;
  }

  void Channels(const json& v, const std::string& path, Scenario::Board* board) const {
    if (!v.is_object()) Fail(path, "must be an object of channel numbers (0-15) and signals");
    for (const auto& item : v.items()) {
      const std::string cpath = Key(path, item.key());
      const uint64_t ch = Integer(json(item.key()), cpath, 0, 15);
      if (board->channels[ch]) Fail(cpath, "channel " + std::to_string(ch) + " is given twice");
      board->channels[ch] = Signal(item.value(), cpath);
    }
  }

  daqsim::Signal Signal(const json& j, const std::string& path) const {
    if (!j.is_object()) Fail(path, "a signal must be an object");
    const std::string kind = j.contains("kind") ? String(j["kind"], Key(path, "kind")) : "dc";
    const auto volts = [&](const char* key, double min) {
      return j.contains(key) ? Real(j[key], Key(path, key), min, kMaxSignalVolts) : 0.0;
    };
    daqsim::Signal s;
    if (kind == "dc") {
      OnlyKeys(j, path, {"kind", "volts", "offset", "noise", "rms", "seed"}, "a dc signal");
      if (j.contains("volts") && j.contains("offset")) Fail(path, "give volts or offset, not both");
      s = daqsim::Signal::Dc(j.contains("volts") ? volts("volts", -kMaxSignalVolts)
                                                 : volts("offset", -kMaxSignalVolts));
    } else if (kind == "sine" || kind == "square" || kind == "triangle") {
      OnlyKeys(j, path, {"kind", "amplitude", "frequency", "phase", "offset", "noise", "rms", "seed"},
               "a " + kind + " signal");
      const double amp = volts("amplitude", 0), offset = volts("offset", -kMaxSignalVolts);
      const double hz = j.contains("frequency") ? Real(j["frequency"], Key(path, "frequency"), 0, kMaxSignalHz) : 0;
      const double phase = j.contains("phase") ? Real(j["phase"], Key(path, "phase"), -360, 360) : 0;
      s = kind == "sine"     ? daqsim::Signal::Sine(amp, hz, phase, offset)
          : kind == "square" ? daqsim::Signal::Square(amp, hz, phase, offset)
                             : daqsim::Signal::Triangle(amp, hz, phase, offset);
    } else if (kind == "noise") {
      OnlyKeys(j, path, {"kind", "noise", "rms", "seed", "offset"}, "a noise signal");
      s = daqsim::Signal::Dc(volts("offset", -kMaxSignalVolts));
    } else {
      Fail(Key(path, "kind"), "unknown signal kind " + Quoted(kind) + " (dc, sine, square, triangle, noise)");
    }
    if (j.contains("noise") && j.contains("rms")) Fail(path, "give noise or rms, not both");
    const char* rmsKey = j.contains("rms") ? "rms" : "noise";
    if (j.contains(rmsKey) || kind == "noise") {
      const uint64_t seed = j.contains("seed") ? Integer(j["seed"], Key(path, "seed"), 0, UINT64_MAX) : 0;
      s = s.WithNoise(volts(rmsKey, 0), seed);
    } else if (j.contains("seed")) {
      Fail(Key(path, "seed"), "a seed goes with noise (noise or rms)");
    }
    return s;
  }

  void Drivers(const json& v, Scenario* sc) const {
    if (!v.is_object()) Fail("drivers", "must be an object");
    OnlyKeys(v, "drivers", {"kelvra", "varno", "varno_fifo_samples"}, "drivers");
    if (v.contains("kelvra")) sc->kelvra = State(v["kelvra"], "drivers.kelvra");
    if (v.contains("varno")) sc->varno = State(v["varno"], "drivers.varno");
    if (v.contains("varno_fifo_samples")) {
      sc->varnoFifoSamples = size_t(Integer(v["varno_fifo_samples"], "drivers.varno_fifo_samples", 1, kMaxFifoSamples));
    }
  }

  Scenario::DriverState State(const json& v, const std::string& path) const {
    const std::string s = String(v, path);
    if (s == "installed") return Scenario::DriverState::kInstalled;
    if (s == "absent") return Scenario::DriverState::kAbsent;
    if (s == "refuse") return Scenario::DriverState::kRefuse;
    Fail(path, "unknown driver state " + Quoted(s) + " (installed, absent, refuse)");
  }

  const std::string& file_;
};

void ApplyDriverState(KernelDevice* dev, Scenario::DriverState state) {
  if (!dev) return;
  if (state == Scenario::DriverState::kAbsent) dev->SetInstalled(false);
  if (state == Scenario::DriverState::kRefuse) dev->SetRefuseOpen(true);
}

}  // namespace

Scenario ParseScenario(const std::string& text, const std::string& file) {
  ParseGuard guard(file);
  json::sax_parse(text, &guard);
  // The text is valid JSON of sane depth: build the document.
  return Reader(file).Top(json::parse(text));
}

Scenario ReadScenarioFile(const std::string& file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(fs::u8path(file), ec);
  if (ec || !fs::exists(st)) throw ScenarioError("cannot read scenario " + file + ": no such file");
  if (fs::is_directory(st)) throw ScenarioError("cannot read scenario " + file + ": it is a folder, not a file");
  // Read in pieces, with a bound, so that a pipe or a device works and a
  // huge file is refused without being read whole.
  std::ifstream in(fs::u8path(file), std::ios::binary);
  if (!in) throw ScenarioError("cannot read scenario " + file + ": it cannot be opened");
  std::string text;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, size_t(in.gcount()));
    if (text.size() > kMaxFileBytes) {
      throw ScenarioError("scenario " + file + ": larger than " + std::to_string(kMaxFileBytes >> 20) +
                          " MiB, more than any bench needs");
    }
  }
  if (in.bad()) throw ScenarioError("cannot read scenario " + file + ": a read failed");
  return ParseScenario(text, file);
}

void ApplyScenario(const Scenario& sc, Bench& bench, const std::string& file) {
  if (sc.stockDevices) bench.AddStockPcDevices();
  for (size_t i = 0; i < sc.boards.size(); ++i) {
    if (bench.At(sc.boards[i].at)) {
      Refuse(file, "boards[" + std::to_string(i) + "]",
             "slot " + Slot(sc.boards[i].at) +
                 " holds one of the PC's own devices (stock_devices): choose another slot, or set "
                 "stock_devices to false");
    }
  }
  for (size_t i = 0; i < sc.boards.size(); ++i) {
    const Scenario::Board& b = sc.boards[i];
    try {
      if (b.model == Scenario::Model::kVarno) {
        MultifunctionBoard& board = bench.AddMultifunctionBoard(b.at);
        board.SetDigitalInputs(b.digitalInputs);
        if (b.counterClockHz != MultifunctionBoard::kDefaultCounterClockHz) board.SetCounterClockHz(b.counterClockHz);
        for (int ch = 0; ch < 16; ++ch) {
          if (b.channels[size_t(ch)]) board.SetSignal(ch, *b.channels[size_t(ch)]);
        }
      } else {
        const RelayModel model = b.model == Scenario::Model::kKorvel ? RelayModel::kKorvel : RelayModel::kLumar;
        bench.AddRelayBoard(model, b.at).SetInputs(b.inputs);
      }
    } catch (const IoSpaceFull&) {
      Refuse(file, "boards[" + std::to_string(i) + "]",
             "no room left for the board's ports in the PC's I/O space (0x1000-0xEFFF): it holds " +
                 std::to_string(kMaxBoards) + " boards, fewer beside the stock devices");
    }
  }
  bench.InstallVarnoDevices();
  ApplyDriverState(&bench.PortAccessDriver(), sc.kelvra);
  for (unsigned n = 0; n < VarnoDriver::kDevices; ++n) {
    VarnoDriver* dev = bench.VarnoDevice(n);
    if (dev && sc.varnoFifoSamples != VarnoDriver::kDefaultCapacity) dev->SetCapacity(sc.varnoFifoSamples);
    ApplyDriverState(dev, sc.varno);
  }
  bench.SetHost(sc.host);
}

void LoadScenario(Bench& bench, const std::string& file) { ApplyScenario(ReadScenarioFile(file), bench, file); }

void BuildBuiltInBench(Bench& bench) {
  bench.AddStockPcDevices();
  bench.AddRelayBoard(RelayModel::kKorvel, PciLocation{0, 5, 0}).SetInputs(0x0F0F);
  bench.AddRelayBoard(RelayModel::kLumar, PciLocation{1, 3, 0}).SetInputs(0xA5);
  MultifunctionBoard& a = bench.AddMultifunctionBoard(PciLocation{0, 9, 0});
  a.SetSignal(0, Signal::Sine(5.0, 50.0));
  a.SetSignal(1, Signal::Square(2.0, 20.0));
  a.SetSignal(2, Signal::Dc(1.25));
  a.SetSignal(3, Signal::Triangle(8.0, 5.0).WithNoise(0.05, 3));
  a.SetDigitalInputs(0x00F1);
  MultifunctionBoard& b = bench.AddMultifunctionBoard(PciLocation{2, 4, 0});
  b.SetSignal(0, Signal::Sine(0.08, 1000.0));
  b.SetSignal(1, Signal::Noise(0.5, 11));
  b.SetDigitalInputs(0xBEEF);
  bench.InstallVarnoDevices();
}

}  // namespace daqsim
