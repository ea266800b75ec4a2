// panel: a test panel in the browser. A local web server shows every board
// both libraries find, switches relays and outputs, takes readings and draws
// a background acquisition live, on the bench or on hardware. It prints one
// URL to open (with the token every request must carry) and runs until
// Ctrl-C or SIGTERM.
#include <fmt/format.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "acquisition_rate.h"
#include "command.h"
#include "daqctl.h"
#include "panel/access.h"
#include "panel/frames.h"
#include "panel/rig.h"
#include "panel/server.h"
#include "stop_request.h"

namespace daqctl {
namespace {

struct Panel final : Handler {
  NumberOption portText;
  std::string listenText = "127.0.0.1";
  std::string clockText;
  std::string recordFolder = ".";
  unsigned port = 0;
  panel::ListenAddress listen;
  panel::RigOptions rig;

  void Check() override {
    port = portText.Get().value_or(0);
    if (port > 65535) throw Failure(kExitUsage, "--port must be 0 to 65535 (0: a free port the system chooses)");
    listen = panel::ParseListenAddress(listenText, "--listen");
    if (!clockText.empty()) rig.clockHz = ParseCounterClock(clockText, "--clock");
    std::error_code error;
    if (!std::filesystem::is_directory(recordFolder, error)) {
      throw Failure(kExitUsage, fmt::format("--record-folder {}: no such folder", recordFolder));
    }
    rig.recordFolder = recordFolder;
  }

  int Run() override {
    panel::FrameHub hub;
    panel::Rig rigThread(rig, hub);
    panel::PanelServer server(rigThread, panel::MakeToken());
    // The port first: a panel that cannot listen touches no hardware.
    const std::string url = server.Bind(listen, port);
    StopRequests stopRequests;
    rigThread.Start();
    // Serving before the URL is out: whoever has it can use it.
    server.Start();
    if (!listen.loopback()) {
      fmt::print(stderr,
                 "daqctl: warning: the panel listens on {}: whoever reaches this machine there with the URL below "
                 "(its token included) can switch the relays and outputs; the connection is plain HTTP, so use it "
                 "only on a network you trust\n",
                 listen.address);
    }
    Print("{}\n", url);
    std::fflush(stdout);
    fmt::print(stderr, "daqctl: the panel is at the URL above (open it in a browser on this machine; recordings go "
                       "to {}); Ctrl-C stops it\n",
               recordFolder);
    while (StopRequests::Pending() == 0 && server.running()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int signal = StopRequests::Pending();
    // The pages' streams end first: the server then waits for no page.
    hub.Close();
    server.Stop();
    rigThread.Stop(signal ? fmt::format("interrupted by {}", StopRequests::Name(signal)) : "complete");
    fmt::print(stderr, "daqctl: the panel stopped{}\n", signal ? fmt::format(" ({})", StopRequests::Name(signal)) : "");
    return kExitOk;
  }
};

std::unique_ptr<Handler> Define(CLI::App& app) {
  auto panel = std::make_unique<Panel>();
  panel->portText.Add(app, "--port,-p", "TCP port to listen on (default 0: a free port the system chooses)");
  app.add_option("--listen", panel->listenText,
                 "address to listen on (default 127.0.0.1, this machine only); another interface prints a warning "
                 "and still needs the token")
      ->capture_default_str();
  app.add_option("--clock", panel->clockText,
                 "the multifunction boards' counter clock in Hz, for rates and seconds (the bench knows its own)");
  app.add_option("--record-folder", panel->recordFolder, "folder the page's recordings are written to")
      ->capture_default_str();
  return panel;
}

}  // namespace

extern const Command kPanel{"panel",
                            "a test panel in the browser: relays, inputs, outputs, counters, readings and a live "
                            "chart, served on this machine",
                            Define, false};

}  // namespace daqctl
