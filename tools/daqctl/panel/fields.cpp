// The fields of the page's requests.
#include "fields.h"

#include <fmt/format.h>

#include "daqctl.h"

namespace daqctl::panel {

nlohmann::json ParseRequest(const std::string& body) {
  nlohmann::json request = nlohmann::json::parse(body, nullptr, false);
  if (request.is_discarded() || !request.is_object()) {
    throw Failure(kExitUsage, "the request must be a JSON object");
  }
  return request;
}

std::optional<uint32_t> OptionalNumber(const nlohmann::json& request, const char* name) {
  const auto it = request.find(name);
  if (it == request.end()) return std::nullopt;
  if (it->is_number_unsigned() && it->get<uint64_t>() <= 0xFFFFFFFFu) return uint32_t(it->get<uint64_t>());
  const std::string text = it->is_string() ? it->get<std::string>() : it->dump();
  if (it->is_string()) {
    const std::optional<uint64_t> value = ParseWholeNumber(text, 0xFFFFFFFFu);
    if (value) return uint32_t(*value);
  }
  throw Failure(kExitUsage, fmt::format("{}: not a number: '{}'", name, text));
}

uint32_t Number(const nlohmann::json& request, const char* name) {
  const std::optional<uint32_t> value = OptionalNumber(request, name);
  if (!value) throw Failure(kExitUsage, fmt::format("{} is missing", name));
  return *value;
}

bool Flag(const nlohmann::json& request, const char* name, bool absent) {
  const auto it = request.find(name);
  if (it == request.end()) return absent;
  if (!it->is_boolean()) throw Failure(kExitUsage, fmt::format("{} must be true or false", name));
  return it->get<bool>();
}

std::string Text(const nlohmann::json& request, const char* name) {
  const auto it = request.find(name);
  if (it == request.end()) return {};
  if (!it->is_string()) throw Failure(kExitUsage, fmt::format("{} must be a text", name));
  return it->get<std::string>();
}

}  // namespace daqctl::panel
