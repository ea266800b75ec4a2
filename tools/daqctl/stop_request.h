// Ctrl-C, SIGTERM and SIGHUP during an acquisition: the handler only records
// the request; the acquisition loop sees it, stops the board, writes what it
// has and ends with an "interrupted" status. The libraries are never called
// from a handler. A second request while the first is pending ends the
// process the ordinary way (for a pacer block, which cannot be cut short).
#ifndef DAQCTL_STOP_REQUEST_H
#define DAQCTL_STOP_REQUEST_H

namespace daqctl {

// Installs the handlers for its lifetime; the previous ones come back after.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // The signal that asked to stop (SIGINT, ...), or 0.
  static int Pending();
  // "SIGINT", "SIGTERM", "SIGHUP", "Ctrl-Break", ...
  static const char* Name(int signal);
};

}  // namespace daqctl

#endif
