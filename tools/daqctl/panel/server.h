// The panel's HTTP server: the page and its files, the JSON requests that
// reach the rig, and the stream of server-sent events. Every request passes
// the access rules (access.h) before anything else looks at it.
#ifndef DAQCTL_PANEL_SERVER_H
#define DAQCTL_PANEL_SERVER_H

#include <memory>
#include <string>

#include "access.h"
#include "rig.h"

namespace daqctl::panel {

// Where the panel listens: an IP address, "localhost" meaning 127.0.0.1.
struct ListenAddress {
  std::string address = "127.0.0.1";
  bool loopback() const;
  bool wildcard() const;  // 0.0.0.0 or ::, every interface
};
// Refuses (Failure(kExitUsage)) an address that is no IPv4 or IPv6 literal.
ListenAddress ParseListenAddress(const std::string& text, const char* name);

class PanelServer {
 public:
  PanelServer(Rig& rig, std::string token);
  ~PanelServer();
  PanelServer(const PanelServer&) = delete;
  PanelServer& operator=(const PanelServer&) = delete;

  // Binds `port` (0: one the system chooses) on `listen`; returns the URL to
  // open, token included. A port that cannot be bound is a Failure.
  std::string Bind(const ListenAddress& listen, unsigned port);
  // Serves on a thread of its own until Stop(); returns once it serves.
  void Start();
  void Stop();
  bool running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace daqctl::panel

#endif
