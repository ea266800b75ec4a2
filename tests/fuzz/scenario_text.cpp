#include "scenario_text.h"

#include <string>

namespace daqfuzz {
namespace {

// A JSON number or string that stands for one: the values a key expects and
// the ones it does not.
std::string Number(FuzzSource& in) {
  switch (in.Below(12)) {
    case 0: return std::to_string(in.Below(10));
    case 1: return std::to_string(in.Below(32));
    case 2: return std::to_string(in.U16());
    case 3: return std::to_string(in.U32());
    case 4: return "-" + std::to_string(in.Below(100));
    case 5: return in.OneOf<const char*>({"1e308", "1e400", "-1e400", "0.5", "4294967296", "18446744073709551616"});
    case 6: return "\"0x" + std::to_string(in.U16()) + "\"";
    case 7: return in.OneOf<const char*>({"\"010\"", "\"0b11\"", "\"\"", "\" 7\"", "\"-3\"", "\"0x\"", "\"4294967296\""});
    case 8: return in.OneOf<const char*>({"true", "null", "[]", "{}", "\"ten\""});
    case 9: return std::to_string(double(in.U16()) / 7.0);
    default: return std::to_string(in.Below(5));
  }
}

std::string Quoted(const char* s) { return std::string("\"") + s + "\""; }

std::string Value(FuzzSource& in, int depth);

std::string Signal(FuzzSource& in) {
  std::string s = "{";
  const unsigned n = in.Below(6);
  for (unsigned i = 0; i < n; ++i) {
    if (i) s += ",";
    const char* key = in.OneOf<const char*>({"kind", "amplitude", "frequency", "phase", "offset", "volts", "noise",
                                             "rms", "seed", "other"});
    s += Quoted(key) + ":";
    if (std::string(key) == "kind" && in.Percent(80)) {
      s += Quoted(in.OneOf<const char*>({"dc", "sine", "square", "triangle", "noise", "saw", ""}));
    } else {
      s += Number(in);
    }
  }
  return s + "}";
}

std::string Board(FuzzSource& in) {
  std::string s = "{";
  const unsigned n = in.Below(8);
  for (unsigned i = 0; i < n; ++i) {
    if (i) s += ",";
    const char* key = in.OneOf<const char*>({"model", "bus", "device", "function", "inputs", "digital_inputs",
                                             "counter_clock_hz", "channels", "model"});
    s += Quoted(key) + ":";
    const std::string k = key;
    if (k == "model" && in.Percent(85)) {
      s += Quoted(in.OneOf<const char*>({"KORVEL", "LUMAR", "VARNO", "VARNO", "korvel", ""}));
    } else if (k == "channels" && in.Percent(85)) {
      s += "{";
      const unsigned c = in.Below(4);
      for (unsigned j = 0; j < c; ++j) {
        if (j) s += ",";
        s += "\"" + (in.Percent(80) ? std::to_string(in.Below(20)) : std::string(in.OneOf<const char*>({"-1", "x", "0x3", ""}))) +
             "\":" + (in.Percent(90) ? Signal(in) : Number(in));
      }
      s += "}";
    } else {
      s += Number(in);
    }
  }
  return s + "}";
}

std::string Value(FuzzSource& in, int depth) {
  if (depth > 3 || in.Percent(50)) return Number(in);
  if (in.Bool()) return "[" + Value(in, depth + 1) + "," + Value(in, depth + 1) + "]";
  return "{\"a\":" + Value(in, depth + 1) + "}";
}

}  // namespace

std::string ScenarioText(FuzzSource& in) {
  if (in.Percent(5)) {
    // No JSON at all, or JSON cut short.
    std::string s = in.OneOf<const char*>({"", "{", "[", "{\"boards\":[{\"model\":\"VARNO\"", "null", "\xFF\xFE{}"});
    for (unsigned n = in.Below(8); n > 0; --n) s += char(in.U8());
    return s;
  }
  std::string s = "{";
  bool first = true;
  auto key = [&](const char* k) {
    s += (first ? "" : ",") + Quoted(k) + ":";
    first = false;
  };
  if (in.Percent(60)) {
    key("stock_devices");
    s += in.Percent(80) ? in.OneOf<const char*>({"true", "false"}) : Number(in).c_str();
  }
  if (in.Percent(90)) {
    key("boards");
    if (in.Percent(95)) {
      s += "[";
      const unsigned n = in.Percent(90) ? in.Below(6) : in.Below(40);
      for (unsigned i = 0; i < n; ++i) s += (i ? "," : "") + (in.Percent(95) ? Board(in) : Number(in));
      s += "]";
    } else {
      s += Value(in, 0);
    }
  }
  if (in.Percent(50)) {
    key("drivers");
    s += "{";
    const unsigned n = in.Below(3);
    for (unsigned i = 0; i < n; ++i) {
      s += std::string(i ? "," : "") + Quoted(in.OneOf<const char*>({"kelvra", "varno", "other"})) + ":" +
           (in.Percent(85) ? Quoted(in.OneOf<const char*>({"installed", "absent", "refuse", "broken"})) : Number(in));
    }
    s += "}";
  }
  if (in.Percent(10)) {
    key(in.OneOf<const char*>({"description", "unknown", ""}));
    s += Value(in, 0);
  }
  return s + "}";
}

}  // namespace daqfuzz
