// Who may use the panel.
#if defined(_WIN32)
// rand_s is declared only when this comes before the first C header.
#define _CRT_RAND_S
#endif
#include "access.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#if defined(_WIN32)
#include <stdlib.h>
#else
#include <sys/random.h>

#include <cerrno>
#endif

namespace daqctl::panel {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

// "application/json; charset=utf-8" -> "application/json"
std::string MediaType(const std::string& contentType) {
  std::string type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  return Lower(type);
}

void FillRandom(unsigned char* bytes, size_t size) {
#if defined(_WIN32)
  // std::random_device is not used: MinGW's libstdc++ falls back to a fixed
  // pseudo-random sequence on processors without RDRAND.
  for (size_t i = 0; i < size; i += sizeof(unsigned)) {
    unsigned value = 0;
    if (rand_s(&value) != 0) throw std::runtime_error("the system gave no random numbers for the panel's token");
    for (size_t k = 0; k < sizeof value && i + k < size; ++k) bytes[i + k] = (unsigned char)(value >> (8 * k));
  }
#else
  size_t filled = 0;
  while (filled < size) {
    const ssize_t n = getrandom(bytes + filled, size - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("the system gave no random numbers for the panel's token");
    filled += size_t(n);
  }
#endif
}

}  // namespace

std::string MakeToken() {
  unsigned char bytes[16];
  FillRandom(bytes, sizeof bytes);
  std::string token;
  for (unsigned char b : bytes) token += fmt::format("{:02x}", b);
  return token;
}

bool TokenMatches(const std::string& token, const std::string& given) {
  if (token.empty() || given.size() != token.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < token.size(); ++i) difference |= (unsigned char)(token[i] ^ given[i]);
  return difference == 0;
}

AccessDecision CheckAccess(const AccessPolicy& policy, const AccessRequest& request) {
  const std::string host = Lower(request.host);
  if (!policy.hosts.empty() &&
      std::none_of(policy.hosts.begin(), policy.hosts.end(), [&](const std::string& h) { return Lower(h) == host; })) {
    return {403, fmt::format("the panel does not answer to host '{}'", request.host)};
  }
  const bool read = request.method == "GET" || request.method == "HEAD";
  const bool tokenGiven = TokenMatches(policy.token, request.headerToken) ||
                          (request.method != "POST" && TokenMatches(policy.token, request.queryToken));
  if (!tokenGiven) {
    return {403, request.method == "POST" ? "the panel's token is needed in the X-Panel-Token header"
                                          : "the panel's token is needed: open the URL daqctl panel printed"};
  }
  const bool ownOrigin = request.origin && Lower(*request.origin) == "http://" + host;
  if (read) {
    if (request.origin && !ownOrigin) return {403, fmt::format("requests from {} are refused", *request.origin)};
    return {};
  }
  if (request.method != "POST") return {405, fmt::format("{} is not accepted", request.method)};
  if (!request.origin) return {403, "a request that changes something needs an Origin header"};
  if (!ownOrigin) return {403, fmt::format("requests from {} are refused", *request.origin)};
  if (MediaType(request.contentType) != "application/json") return {415, "the body must be application/json"};
  return {};
}

}  // namespace daqctl::panel
