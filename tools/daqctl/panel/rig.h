// The rig: the one thread of the panel that calls the libraries. It opens
// both libraries' drivers, keeps them for the panel's life and closes them at
// the end; the page's requests reach it through a queue and wait for their
// replies; between requests it reads the inputs every 100 ms and, while a
// background acquisition runs, fetches its samples every 20 ms, writes them
// to the recording and hands them to the pages (frames.h). No other thread
// ever calls a library, so no driver is ever closed under another call and
// Linux's per-thread port access covers every call.
#ifndef DAQCTL_PANEL_RIG_H
#define DAQCTL_PANEL_RIG_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "frames.h"

namespace daqctl::panel {

struct RigOptions {
  // The multifunction boards' counter clock when the machine cannot tell it
  // (--clock; the bench knows its own).
  std::optional<double> clockHz;
  // Where recordings are written.
  std::string recordFolder = ".";
};

// A reply to the page: 200 with the result, 400 for a request the command
// line would refuse (exit 2), 409 for a failure of the hardware, a driver or
// a file (exit 1) or a request the rig's state refuses, 503 once stopping.
struct Reply {
  int status = 200;
  nlohmann::json body;
};

class Rig {
 public:
  Rig(RigOptions options, FrameHub& hub);
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Starts the thread, which opens the drivers, takes the inventory and
  // selects multifunction board 0; returns once that is done. A library that
  // cannot be opened is no failure: the page shows its message.
  void Start();
  // Ends: a running acquisition is stopped and fetched, a recording completed
  // with `ending` ("complete", "interrupted by SIGINT"), the drivers closed.
  void Stop(const std::string& ending);

  // The boards, versions and state, as the page's first event.
  nlohmann::json Hello();
  // A page's stream of events, starting with the hello; nullptr when
  // FrameHub::kMaxPages are connected or the rig is stopping.
  std::shared_ptr<PageStream> Subscribe(ChartView view);
  void Unsubscribe(const std::shared_ptr<PageStream>& page) { hub_.Leave(page); }

  // The page's requests (JSON objects as fields.h reads them). Each runs on
  // the rig thread.
  Reply Relay(const nlohmann::json& request);        // board, set | relay + on
  Reply Select(const nlohmann::json& request);       // board (resets it)
  Reply Digital(const nlohmann::json& request);      // board, set | output + on
  Reply Timer(const nlohmann::json& request);        // board, counter, divisor
  Reply Reading(const nlohmann::json& request);      // board, channel, range
  Reply StartAcquisition(const nlohmann::json& request);  // board, channel, range, divisor, record, file
  Reply StopAcquisition();
  Reply StartRecording(const nlohmann::json& request);    // file
  Reply StopRecording();
  // Any work on the rig thread (the simulated build's hooks).
  Reply Run(std::function<nlohmann::json()> work);

  class World;  // what the rig thread holds

 private:
  void Loop();
  struct Job {
    std::function<nlohmann::json()> work;
    std::shared_ptr<std::promise<Reply>> reply;
  };

  RigOptions options_;
  FrameHub& hub_;
  std::unique_ptr<World> world_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool started_ = false;
  bool stopping_ = false;
  std::string ending_;
};

}  // namespace daqctl::panel

#endif
