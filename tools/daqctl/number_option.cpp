// Numbers of the command line: whole numbers in decimal, 0x-hex or 0b-binary
// notation, and decimal fractions.
#include <cmath>
#include <cstdlib>

#include "command.h"
#include "daqctl.h"

namespace daqctl {

std::optional<uint64_t> ParseWholeNumber(const std::string& text, uint64_t max) {
  unsigned base = 10;
  size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'b' || text[1] == 'B')) {
    base = 2;
    start = 2;
  }
  if (start == text.size()) return std::nullopt;
  uint64_t value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = unsigned(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = unsigned(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = unsigned(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (digit >= base) return std::nullopt;
    if (value > (max - digit) / base) return std::nullopt;  // value * base + digit > max
    value = value * base + digit;
  }
  return value;
}

std::optional<double> ParseDecimal(const std::string& text) {
  // strtod alone would also take hex floats, "inf", "nan" and leading spaces.
  if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

CLI::Option* NumberOption::Add(CLI::App& app, const std::string& names, const std::string& help) {
  name_ = names.substr(0, names.find(','));
  return app.add_option(names, text_, help);
}

std::optional<uint32_t> NumberOption::Get() const {
  if (text_.empty()) return std::nullopt;
  const std::optional<uint64_t> value = ParseWholeNumber(text_, 0xFFFFFFFFu);
  if (!value) throw Failure(kExitUsage, fmt::format("{}: not a number: '{}'", name_, text_));
  return uint32_t(*value);
}

CLI::Option* AcceptNumbers(CLI::Option* option) {
  return option->transform(CLI::Validator(
      [](std::string& text) -> std::string {
        const std::optional<uint64_t> value = ParseWholeNumber(text);
        if (!value) return fmt::format("not a number: '{}' (decimal, 0x hex or 0b binary)", text);
        text = std::to_string(*value);
        return {};
      },
      "NUMBER"));
}

}  // namespace daqctl
