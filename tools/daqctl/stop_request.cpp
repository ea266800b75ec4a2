// Stop requests by signal (POSIX) or console control event (Windows).
#include "stop_request.h"

#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace daqctl {
namespace {

volatile std::sig_atomic_t g_pending = 0;

#if defined(_WIN32)

BOOL WINAPI OnConsoleEvent(DWORD event) {
  // Runs on a thread of its own: it records the request and nothing else.
  // A second event is left to the default handler, which ends the process.
  if (g_pending != 0) return FALSE;
  g_pending = event == CTRL_C_EVENT ? SIGINT : event == CTRL_BREAK_EVENT ? SIGBREAK : SIGTERM;
  return TRUE;
}

#else

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

extern "C" void OnSignal(int signal) {
  if (g_pending != 0) {
    // Asked twice: the ordinary end of the process.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_pending = signal;
}

#endif

}  // namespace

StopRequests::StopRequests() {
  g_pending = 0;
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

int StopRequests::Pending() { return g_pending; }

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
