// Who may use the panel: a request must carry the token made at start, and
// one that changes something must come from the panel's own page (a POST
// with the panel's origin and a JSON body, which a page of another site
// cannot send without a preflight the panel never grants).
#ifndef DAQCTL_PANEL_ACCESS_H
#define DAQCTL_PANEL_ACCESS_H

#include <optional>
#include <string>
#include <vector>

namespace daqctl::panel {

// The header the page sends the token back in.
constexpr const char kTokenHeader[] = "X-Panel-Token";

// 128 bits from the system's source of random numbers (getrandom on Linux,
// rand_s, that is RtlGenRandom, on Windows), as 32 lowercase hex digits.
std::string MakeToken();
// Whether `given` is `token`, in a time that depends on the lengths only.
bool TokenMatches(const std::string& token, const std::string& given);

struct AccessPolicy {
  std::string token;
  // The Host header values the panel answers to ("127.0.0.1:8080"),
  // compared without case; empty when it listens on every interface and
  // cannot know the names it is reached by.
  std::vector<std::string> hosts;
};

// What a request says about itself.
struct AccessRequest {
  std::string method;
  std::string queryToken;   // ?token=
  std::string headerToken;  // X-Panel-Token
  std::optional<std::string> origin;
  std::string host;
  std::string contentType;
};

struct AccessDecision {
  int status = 0;      // 0: allowed; else the HTTP status of the refusal
  std::string reason;  // why, for the refusal's body
  bool allowed() const { return status == 0; }
};

// The rules, in order:
//  - the Host must be one the panel answers to (a page of another site whose
//    name resolves to this machine is refused) - 403;
//  - GET and HEAD need the token, in the query or the header - 403;
//  - POST needs the token in the header (a form cannot set one), an Origin
//    that is the panel's own ("http://" + Host), and a JSON body - 403, 403, 415;
//  - any other method is refused once the token is checked - 405.
// A GET with an Origin of another site is refused as well.
AccessDecision CheckAccess(const AccessPolicy& policy, const AccessRequest& request);

}  // namespace daqctl::panel

#endif
