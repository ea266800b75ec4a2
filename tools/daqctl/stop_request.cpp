// Stop requests by signal (POSIX) or console control event (Windows).
#include "stop_request.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace daqctl {
namespace {

// Set by a signal handler or, on Windows, the console's own thread, and read
// by whichever thread polls: with the panel's server threads running, the
// signal may land on any of them, so a lock-free atomic (safe in a signal
// handler) rather than a volatile flag that only one thread may share with
// its handler.
std::atomic<int> g_pending{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag must be usable in a signal handler");

#if defined(_WIN32)

BOOL WINAPI OnConsoleEvent(DWORD event) {
  // Runs on a thread of its own: it records the request and nothing else.
  // A second event is left to the default handler, which ends the process.
  if (g_pending.load() != 0) return FALSE;
  g_pending.store(event == CTRL_C_EVENT ? SIGINT : event == CTRL_BREAK_EVENT ? SIGBREAK : SIGTERM);
  return TRUE;
}

#else

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

extern "C" void OnSignal(int signal) {
  if (g_pending.load() != 0) {
    // Asked twice: the ordinary end of the process.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_pending.store(signal);
}

#endif

}  // namespace

StopRequests::StopRequests() {
  g_pending.store(0);
#if defined(_WIN32)
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &g_previous[i]);
#endif
}

StopRequests::~StopRequests() {
#if defined(_WIN32)
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
#else
  for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
#endif
}

int StopRequests::Pending() { return g_pending.load(); }

const char* StopRequests::Name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#if defined(_WIN32)
    case SIGBREAK:
      return "Ctrl-Break";
#else
    case SIGHUP:
      return "SIGHUP";
#endif
    default:
      return "a signal";
  }
}

}  // namespace daqctl
