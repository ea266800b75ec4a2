// The fields of the page's requests (JSON objects), read as the command line
// reads its options: whole numbers as JSON numbers or as text in decimal, 0x
// hex or 0b binary (a leading zero is decimal), nothing else. A bad field
// is a usage error (Failure(kExitUsage)) naming it.
#ifndef DAQCTL_PANEL_FIELDS_H
#define DAQCTL_PANEL_FIELDS_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace daqctl::panel {

// The request's body as a JSON object; anything else is a usage error.
nlohmann::json ParseRequest(const std::string& body);

// A whole number of at most 32 bits; nullopt when the field is absent.
std::optional<uint32_t> OptionalNumber(const nlohmann::json& request, const char* name);
// The same, required: "NAME is missing" when absent.
uint32_t Number(const nlohmann::json& request, const char* name);
// true or false; `absent` when the field is absent.
bool Flag(const nlohmann::json& request, const char* name, bool absent);
// A text; empty when absent.
std::string Text(const nlohmann::json& request, const char* name);

}  // namespace daqctl::panel

#endif
