// Options that take numbers in decimal, 0x-hex or 0b-binary notation.
#include <fmt/format.h>

#include "command.h"
#include "daqctl.h"

namespace daqctl {
namespace {

uint32_t ParseNumber(const std::string& text, const std::string& what) {
  size_t used = 0;
  unsigned long long value = 0;
  try {
    if (text.rfind("0b", 0) == 0 || text.rfind("0B", 0) == 0) {
      value = std::stoull(text.substr(2), &used, 2);
      used += 2;
    } else {
      value = std::stoull(text, &used, 0);
    }
  } catch (const std::exception&) {
    used = 0;
  }
  if (text.empty() || used != text.size() || text[0] == '-' || value > 0xFFFFFFFFull) {
    throw Failure(kExitUsage, fmt::format("{}: not a number: '{}'", what, text));
  }
  return uint32_t(value);
}

}  // namespace

CLI::Option* NumberOption::Add(CLI::App& app, const std::string& names, const std::string& help) {
  name_ = names.substr(0, names.find(','));
  return app.add_option(names, text_, help);
}

std::optional<uint32_t> NumberOption::Get() const {
  if (text_.empty()) return std::nullopt;
  return ParseNumber(text_, name_);
}

}  // namespace daqctl
