// daqctl panel: its parts by themselves (the access rules, the fields of a
// request, the display frames), and the panel run as a user runs it, on the
// bench of a scenario file, asked over HTTP with cpp-httplib's client. The
// bench answers for itself (/sim/bench, the simulated build's hook): the
// relay outputs and the count of writes that reached each output register.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "access.h"
#include "daqctl.h"
#include "daqctl_run.h"
#include "fields.h"
#include "frames.h"

namespace {

using nlohmann::json;
using namespace daqctl::panel;
using namespace std::chrono_literals;

// ---- The access rules ---------------------------------------------------------------

TEST(PanelAccess, EveryRuleRefusesWhatItShould) {
  const std::string token = "0123456789abcdef0123456789abcdef";
  const AccessPolicy policy{token, {"127.0.0.1:8080", "localhost:8080"}};
  const std::string own = "http://127.0.0.1:8080";
  struct Case {
    const char* what;
    AccessRequest request;
    int status;
  };
  const std::vector<Case> cases = {
      {"page with the token in the query", {"GET", token, "", std::nullopt, "127.0.0.1:8080", ""}, 0},
      {"page by the name localhost", {"GET", token, "", std::nullopt, "LOCALHOST:8080", ""}, 0},
      {"page without the token", {"GET", "", "", std::nullopt, "127.0.0.1:8080", ""}, 403},
      {"page with a wrong token", {"GET", token.substr(1) + "0", "", std::nullopt, "127.0.0.1:8080", ""}, 403},
      {"page with a shorter token", {"GET", token.substr(1), "", std::nullopt, "127.0.0.1:8080", ""}, 403},
      {"page from another site", {"GET", token, "", std::string("http://evil.example"), "127.0.0.1:8080", ""}, 403},
      {"page by a foreign host name", {"GET", token, "", std::nullopt, "evil.example:8080", ""}, 403},
      {"change from the page", {"POST", "", token, own, "127.0.0.1:8080", "application/json"}, 0},
      {"change with charset", {"POST", "", token, own, "127.0.0.1:8080", "application/json; charset=utf-8"}, 0},
      {"change with the token in the query only", {"POST", token, "", own, "127.0.0.1:8080", "application/json"}, 403},
      {"change without Origin", {"POST", "", token, std::nullopt, "127.0.0.1:8080", "application/json"}, 403},
      {"change from another site",
       {"POST", "", token, std::string("http://evil.example"), "127.0.0.1:8080", "application/json"},
       403},
      {"change from another port", {"POST", "", token, std::string("http://127.0.0.1:9090"), "127.0.0.1:8080",
                                    "application/json"},
       403},
      {"change as a form", {"POST", "", token, own, "127.0.0.1:8080", "application/x-www-form-urlencoded"}, 415},
      {"change as text", {"POST", "", token, own, "127.0.0.1:8080", "text/plain"}, 415},
      {"change by a rebound name",
       {"POST", "", token, std::string("http://evil.example:8080"), "evil.example:8080", "application/json"},
       403},
      {"PUT with the token", {"PUT", "", token, own, "127.0.0.1:8080", "application/json"}, 405},
      {"DELETE without the token", {"DELETE", "", "", own, "127.0.0.1:8080", "application/json"}, 403},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckAccess(policy, c.request).status, c.status) << c.what;
  }
  // Listening on every interface, any host is answered, the token still needed.
  const AccessPolicy any{token, {}};
  EXPECT_TRUE(CheckAccess(any, {"GET", token, "", std::nullopt, "10.1.2.3:8080", ""}).allowed());
  EXPECT_EQ(CheckAccess(any, {"GET", "", "", std::nullopt, "10.1.2.3:8080", ""}).status, 403);
  EXPECT_TRUE(CheckAccess(any, {"POST", "", token, std::string("http://10.1.2.3:8080"), "10.1.2.3:8080",
                                "application/json"})
                  .allowed());
  // No token at all never matches.
  EXPECT_FALSE(TokenMatches("", ""));
}

TEST(PanelAccess, TokensAre128RandomBitsInHex) {
  const std::string a = MakeToken(), b = MakeToken();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos) << a;
  EXPECT_NE(a, b);
  EXPECT_TRUE(TokenMatches(a, a));
  EXPECT_FALSE(TokenMatches(a, b));
}

// ---- The fields of a request ---------------------------------------------------------

TEST(PanelFields, NumbersAreReadAsTheCommandLineReadsThem) {
  struct Case {
    const char* body;
    std::optional<uint32_t> value;  // nullopt: refused as a usage error
  };
  const std::vector<Case> cases = {
      {R"({"n": 12})", 12u},          {R"({"n": "12"})", 12u},         {R"({"n": "0x1F"})", 0x1Fu},
      {R"({"n": "0b101"})", 5u},      {R"({"n": "010"})", 10u},        {R"({"n": 4294967295})", 0xFFFFFFFFu},
      {R"({"n": 4294967296})", {}},   {R"({"n": -1})", {}},            {R"({"n": 1.5})", {}},
      {R"({"n": "1.5"})", {}},        {R"({"n": "-1"})", {}},          {R"({"n": "12abc"})", {}},
      {R"({"n": true})", {}},         {R"({"n": null})", {}},          {R"({"n": [1]})", {}},
      {R"({"n": ""})", {}},           {R"({"n": "0x100000000"})", {}},
  };
  for (const Case& c : cases) {
    const json request = ParseRequest(c.body);
    if (c.value) {
      EXPECT_EQ(Number(request, "n"), *c.value) << c.body;
    } else {
      try {
        Number(request, "n");
        ADD_FAILURE() << c.body << " was accepted";
      } catch (const daqctl::Failure& f) {
        EXPECT_EQ(f.exitCode, daqctl::kExitUsage) << c.body;
        EXPECT_EQ(std::string(f.what()).rfind("n: not a number", 0), 0u) << f.what();
      }
    }
  }
  EXPECT_FALSE(OptionalNumber(ParseRequest("{}"), "n"));
  EXPECT_THROW(Number(ParseRequest("{}"), "n"), daqctl::Failure);
  for (const char* body : {"[1]", "12", "not json", "", "{\"a\": 1"}) {
    EXPECT_THROW(ParseRequest(body), daqctl::Failure) << body;
  }
  EXPECT_TRUE(Flag(ParseRequest(R"({"on": true})"), "on", false));
  EXPECT_FALSE(Flag(ParseRequest("{}"), "on", false));
  EXPECT_THROW(Flag(ParseRequest(R"({"on": 1})"), "on", false), daqctl::Failure);
  EXPECT_THROW(Text(ParseRequest(R"({"file": 1})"), "file"), daqctl::Failure);
}

// ---- The display frames --------------------------------------------------------------

TEST(PanelFrames, ColumnsHoldTheSmallestAndLargestCodeOfTheirSamples) {
  // Columns of 4 samples; the stream starts at sample 2 (a partial first
  // column), arrives in uneven pieces, and the top 4 bits (the channel tag
  // of the board's word) are not part of the code.
  ColumnDecimator d(4);
  const uint16_t words[] = {0xF005, 0x0003,                  // column 0: samples 2, 3
                            0x0010, 0x0FFF, 0x1000, 0x0011,  // column 1
                            0x0800, 0x07FF};                 // column 2, open
  d.Add(words, 3, 2);
  d.Add(words + 3, 5, 5);
  const Columns c = d.Take();
  EXPECT_EQ(c.first, 0u);
  EXPECT_EQ(c.min, (std::vector<uint16_t>{0x003, 0x000}));
  EXPECT_EQ(c.max, (std::vector<uint16_t>{0x005, 0xFFF}));
  EXPECT_EQ(d.Take().size(), 0u);
  const uint16_t rest[] = {0x0801, 0x0900};
  d.Add(rest, 2, 10);
  const Columns next = d.Take();
  EXPECT_EQ(next.first, 2u);
  EXPECT_EQ(next.min, (std::vector<uint16_t>{0x7FF}));
  EXPECT_EQ(next.max, (std::vector<uint16_t>{0x900}));

  EXPECT_EQ(SamplesPerColumn({1000, 5}, 100000.0), 500u);
  EXPECT_EQ(SamplesPerColumn({1000, 5}, 10.0), 1u);
  EXPECT_EQ(SamplesPerColumn({1024, 1}, std::nullopt), 64u);
}

TEST(PanelFrames, ASlowPageLosesFramesNotItsLatestStateAndNeverBlocksTheSender) {
  PageStream page({100, 1});
  for (size_t k = 0; k < PageStream::kMaxFrames + 8; ++k) page.PutFrame(Event("samples", std::to_string(k)));
  page.PutState(Event("state", "old"));
  page.PutState(Event("state", "new"));
  EXPECT_EQ(page.dropped(), 8u);
  const std::optional<std::string> events = page.Next(0ms);
  ASSERT_TRUE(events);
  EXPECT_EQ(events->rfind("event: state\ndata: new\n\n", 0), 0u);
  EXPECT_FALSE(Contains(*events, "data: old"));
  // The frames kept are the first ones, in order.
  std::string expected;
  for (size_t k = 0; k < PageStream::kMaxFrames; ++k) expected += Event("samples", std::to_string(k));
  EXPECT_EQ(events->substr(events->find("event: samples")), expected);
  EXPECT_EQ(page.Next(0ms), std::string());
  page.Close();
  EXPECT_FALSE(page.Next(0ms));

  FrameHub hub;
  std::vector<std::shared_ptr<PageStream>> pages;
  for (size_t k = 0; k < FrameHub::kMaxPages; ++k) pages.push_back(hub.Join({100, 1}, "hello"));
  for (const auto& p : pages) EXPECT_NE(p, nullptr);
  EXPECT_EQ(hub.Join({100, 1}, "hello"), nullptr);
  hub.Leave(pages[0]);
  EXPECT_NE(hub.Join({100, 1}, "hello"), nullptr);
}

// ---- The panel as a process ---------------------------------------------------------

// daqctl panel on the bench of a scenario, with a folder of its own (its
// standard error, and its recordings in recordings/); stopped with SIGINT at
// the end.
class Panel {
 public:
  explicit Panel(const std::string& scenario, const std::vector<std::string>& extra = {}) {
    folder_ = TempFile("panel_" + std::to_string(++instances_));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ + "/recordings");
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> args = {DAQCTL_PATH, "--sim", scenario, "panel", "--record-folder",
                                     recordings()};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      const int err = open((folder_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    // The first line of its output is the URL.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
      char buffer[256];
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, size_t(n));
    }
    close(out[0]);
    url_ = line.substr(0, line.find('\n'));
    const size_t at = url_.find("/?token=");
    if (url_.rfind("http://127.0.0.1:", 0) != 0 || at == std::string::npos) {
      throw std::runtime_error("daqctl panel printed no URL: '" + line + "' " + Slurp(folder_ + "/stderr.txt"));
    }
    base_ = url_.substr(0, at);
    token_ = url_.substr(at + 8);
    port_ = std::stoi(base_.substr(base_.rfind(':') + 1));
  }
  ~Panel() {
    if (pid_ > 0) Stop();
    // Kept for a look after a failure.
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder_);
  }

  // SIGINT; the exit status, or -1 when the panel has not ended 20 s later
  // (it is killed then).
  int Stop() {
    kill(pid_, SIGINT);
    int raw = 0;
    pid_t ended = 0;
    for (int k = 0; k < 2000 && (ended = waitpid(pid_, &raw, WNOHANG)) == 0; ++k) std::this_thread::sleep_for(10ms);
    if (ended != pid_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &raw, 0);
      pid_ = -1;
      return -1;
    }
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(20, 0);
    return client;
  }
  // A request as the page makes it.
  httplib::Headers PageHeaders() const { return {{"X-Panel-Token", token_}, {"Origin", base_}}; }
  httplib::Result Post(const std::string& path, const json& body) const {
    return Client().Post(path.c_str(), PageHeaders(), body.dump(), "application/json");
  }
  // A POST that must succeed: its reply.
  json Do(const std::string& path, const json& body) const {
    const httplib::Result r = Post(path, body);
    EXPECT_TRUE(r) << path;
    if (!r) return json();
    EXPECT_EQ(r->status, 200) << path << " " << body.dump() << ": " << r->body;
    return json::parse(r->body, nullptr, false);
  }
  json Get(const std::string& path) const {
    const httplib::Result r = Client().Get((path + "?token=" + token_).c_str());
    EXPECT_TRUE(r && r->status == 200) << path;
    return r ? json::parse(r->body, nullptr, false) : json();
  }
  json Bench() const { return Get("/sim/bench"); }

  const std::string& base() const { return base_; }
  const std::string& token() const { return token_; }
  const std::string& folder() const { return folder_; }
  std::string recordings() const { return folder_ + "/recordings"; }
  int port() const { return port_; }
  std::string stderrText() const { return Slurp(folder_ + "/stderr.txt"); }

 private:
  static inline int instances_ = 0;
  pid_t pid_ = -1;
  std::string folder_, url_, base_, token_;
  int port_ = 0;
};

// The panel's event stream, read on a thread of its own as a page reads it.
class EventReader {
 public:
  struct Event {
    std::string name;
    json data;
  };
  EventReader(const Panel& panel, const std::string& view) {
    thread_ = std::thread([this, &panel, view] {
      httplib::Client client = panel.Client();
      client.Get(("/api/events?token=" + panel.token() + "&" + view).c_str(), [this](const char* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        buffer_.append(data, size);
        for (size_t end; (end = buffer_.find("\n\n")) != std::string::npos;) {
          const std::string block = buffer_.substr(0, end);
          buffer_.erase(0, end + 2);
          Event e;
          for (const std::string& line : Lines(block)) {
            if (line.rfind("event: ", 0) == 0) e.name = line.substr(7);
            if (line.rfind("data: ", 0) == 0) e.data = json::parse(line.substr(6), nullptr, false);
          }
          if (!e.name.empty()) events_.push_back(std::move(e));
        }
        changed_.notify_all();
        return !stop_;
      });
    });
  }
  ~EventReader() {
    stop_ = true;
    thread_.join();
  }
  // Waits (up to 10 s) for an event that `match` accepts; whether it came.
  bool WaitFor(const std::function<bool(const Event&)>& match) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] {
      for (const Event& e : events_) {
        if (match(e)) return true;
      }
      return false;
    });
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string buffer_;
  std::vector<Event> events_;
  std::atomic<bool> stop_{false};
};

const std::string kLabBench = std::string(DAQCTL_SCENARIOS) + "/lab_bench.json";

TEST(PanelServer, RefusedRequestsLeaveTheBenchUntouched) {
  Panel panel(kLabBench);
  // Relay board 0 set to a pattern first, so that a write of any other is seen.
  panel.Do("/api/relay", {{"board", 0}, {"set", "0x00A5"}});
  panel.Do("/api/digital", {{"board", 0}, {"set", "0x0F0F"}});
  const json before = panel.Bench();
  ASSERT_EQ(before["relay_boards"][0]["outputs"], 0x00A5) << before.dump();

  const std::string relay = json{{"board", 0}, {"set", "0xFFFF"}}.dump();
  const std::string own = panel.base();
  const std::string token = panel.token();
  const std::string foreignHost = "evil.example:" + std::to_string(panel.port());
  struct Case {
    const char* what;
    const char* method;
    std::string path;
    httplib::Headers headers;
    const char* contentType;
    int status;
  };
  const std::vector<Case> cases = {
      {"no token", "POST", "/api/relay", {{"Origin", own}}, "application/json", 403},
      {"a wrong token", "POST", "/api/relay", {{"X-Panel-Token", std::string(32, '0')}, {"Origin", own}},
       "application/json", 403},
      {"the token in the query only", "POST", "/api/relay?token=" + token, {{"Origin", own}}, "application/json",
       403},
      {"no Origin", "POST", "/api/relay", {{"X-Panel-Token", token}}, "application/json", 403},
      {"a foreign Origin", "POST", "/api/relay", {{"X-Panel-Token", token}, {"Origin", "http://evil.example"}},
       "application/json", 403},
      {"a form", "POST", "/api/relay", {{"X-Panel-Token", token}, {"Origin", own}},
       "application/x-www-form-urlencoded", 415},
      {"plain text", "POST", "/api/relay", {{"X-Panel-Token", token}, {"Origin", own}}, "text/plain", 415},
      {"a foreign Host", "POST", "/api/relay",
       {{"X-Panel-Token", token}, {"Origin", "http://" + foreignHost}, {"Host", foreignHost}}, "application/json",
       403},
      {"PUT", "PUT", "/api/relay", {{"X-Panel-Token", token}, {"Origin", own}}, "application/json", 405},
      {"GET", "GET", "/api/relay?token=" + token, {{"X-Panel-Token", token}}, nullptr, 405},
      {"outputs, no token", "POST", "/api/digital", {{"Origin", own}}, "application/json", 403},
      {"outputs, a foreign Origin", "POST", "/api/digital",
       {{"X-Panel-Token", token}, {"Origin", "http://evil.example"}}, "application/json", 403},
      {"counter, no token", "POST", "/api/timer", {{"Origin", own}}, "application/json", 403},
      {"acquisition, no Origin", "POST", "/api/acquisition/start", {{"X-Panel-Token", token}}, "application/json",
       403},
      {"bench inputs, no token", "POST", "/sim/inputs", {{"Origin", own}}, "application/json", 403},
  };
  const std::string digital = json{{"board", 0}, {"set", "0xFFFF"}}.dump();
  const std::string timer = json{{"board", 0}, {"counter", 1}, {"divisor", 100}}.dump();
  const std::string start = json{{"board", 0}, {"channel", 0}, {"range", 0}, {"divisor", 400}}.dump();
  for (const Case& c : cases) {
    httplib::Client client = panel.Client();
    const std::string& body = c.path == "/api/digital" ? digital
                              : c.path == "/api/timer" ? timer
                              : c.path.rfind("/api/acquisition", 0) == 0 ? start
                                                                          : relay;
    httplib::Result r = c.method == std::string("POST")  ? client.Post(c.path.c_str(), c.headers, body, c.contentType)
                        : c.method == std::string("PUT") ? client.Put(c.path.c_str(), c.headers, body, c.contentType)
                                                         : client.Get(c.path.c_str(), c.headers);
    ASSERT_TRUE(r) << c.what;
    EXPECT_EQ(r->status, c.status) << c.what << ": " << r->body;
    EXPECT_TRUE(Contains(r->body, "\"error\"")) << c.what << ": " << r->body;
  }
  // Every request that changes something, with a valid body, without the
  // token and from another site.
  const std::vector<std::pair<const char*, json>> changes = {
      {"/api/relay", {{"board", 0}, {"relay", 3}, {"on", true}}},
      {"/api/select", {{"board", 0}}},
      {"/api/digital", {{"board", 0}, {"output", 3}, {"on", true}}},
      {"/api/timer", {{"board", 0}, {"counter", 2}, {"divisor", 1000}}},
      {"/api/reading", {{"board", 0}, {"channel", 0}, {"range", 0}}},
      {"/api/acquisition/start", {{"board", 0}, {"channel", 0}, {"range", 0}, {"divisor", 400}, {"record", true}}},
      {"/api/acquisition/stop", json::object()},
      {"/api/recording/start", json::object()},
      {"/api/recording/stop", json::object()},
      {"/sim/inputs", {{"relay_board", 0}, {"inputs", 0}}},
  };
  for (const auto& [path, body] : changes) {
    const httplib::Headers refused[] = {{{"Origin", own}},
                                        {{"X-Panel-Token", token}, {"Origin", "http://localhost.evil.example"}}};
    for (const httplib::Headers& headers : refused) {
      const httplib::Result r = panel.Client().Post(path, headers, body.dump(), "application/json");
      ASSERT_TRUE(r) << path;
      EXPECT_EQ(r->status, 403) << path << ": " << r->body;
    }
  }
  // Reads without the token are refused too.
  httplib::Client client = panel.Client();
  for (const char* path : {"/", "/api/hello", "/api/events", "/assets/panel.js", "/sim/bench"}) {
    const httplib::Result r = client.Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 403) << path;
  }
  EXPECT_EQ(client.Get("/?token=" + std::string(32, 'f'))->status, 403);

  const json after = panel.Bench();
  EXPECT_EQ(after, before) << "before " << before.dump() << "\nafter " << after.dump();
  const json state = panel.Get("/api/hello")["state"];
  EXPECT_EQ(state["acquisition"], nullptr);
  EXPECT_EQ(state["recording"], nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(panel.recordings()));
  EXPECT_EQ(panel.Stop(), 0) << panel.stderrText();
}

TEST(PanelServer, AClickOnRelay3SwitchesTheBenchRelayAndAnInputLightsItsLamp) {
  Panel panel(kLabBench);
  EventReader events(panel, "columns=100&seconds=1");
  ASSERT_TRUE(events.WaitFor([](const EventReader::Event& e) { return e.name == "hello"; }));
  const json hello = events.Events().front().data;
  ASSERT_EQ(hello["relay"]["boards"].size(), 1u) << hello.dump();
  EXPECT_EQ(hello["relay"]["boards"][0]["model"], "KORVEL");
  EXPECT_EQ(hello["relay"]["boards"][0]["slot"], "0:06");
  EXPECT_EQ(hello["multifunction"]["boards"][0]["slot"], "1:02");
  EXPECT_EQ(hello["relay"]["boards"][0]["relays"], 16);
  EXPECT_EQ(hello["state"]["relay"][0]["inputs"], 0x8001);
  const ToolRun version = Daqctl("--sim " + kLabBench + " --version");
  EXPECT_EQ(hello["version_line"].get<std::string>() + "\n", version.out);

  const uint64_t writes = panel.Bench()["relay_boards"][0]["output_writes"];
  json reply = panel.Do("/api/relay", {{"board", 0}, {"relay", 3}, {"on", true}});
  EXPECT_EQ(reply["outputs"], 0x0008);
  json bench = panel.Bench();
  EXPECT_EQ(bench["relay_boards"][0]["outputs"], 0x0008);
  EXPECT_EQ(bench["relay_boards"][0]["output_writes"], writes + 1);
  panel.Do("/api/relay", {{"board", 0}, {"relay", 5}, {"on", true}});
  panel.Do("/api/relay", {{"board", 0}, {"relay", 3}, {"on", false}});
  EXPECT_EQ(panel.Bench()["relay_boards"][0]["outputs"], 0x0020);

  // An input changed on the bench reaches the page as a state event.
  panel.Do("/sim/inputs", {{"relay_board", 0}, {"inputs", "0x0440"}});
  EXPECT_TRUE(events.WaitFor([](const EventReader::Event& e) {
    return e.name == "state" && e.data["relay"][0]["inputs"] == 0x0440 && e.data["relay"][0]["outputs"] == 0x0020;
  }));
  panel.Do("/sim/inputs", {{"multifunction_board", 0}, {"digital_inputs", "0xBEEF"}});
  EXPECT_TRUE(events.WaitFor([](const EventReader::Event& e) {
    return e.name == "state" && e.data["multifunction"]["digital_inputs"] == 0xBEEF;
  }));

  // The multifunction board's outputs, one toggle at a time.
  panel.Do("/api/digital", {{"board", 0}, {"output", 4}, {"on", true}});
  panel.Do("/api/digital", {{"board", 0}, {"output", 15}, {"on", true}});
  EXPECT_EQ(panel.Bench()["multifunction_boards"][0]["digital_outputs"], 0x8010);
  // Channel 2 holds 2.5 V: on +-5 V, mid-scale + 1024.
  reply = panel.Do("/api/reading", {{"board", 0}, {"channel", 2}, {"range", 1}});
  EXPECT_EQ(reply["code"], 3072);
  EXPECT_EQ(reply["volts"], 2.5);
  EXPECT_EQ(reply["over_range"], false);
  EXPECT_EQ(panel.Stop(), 0) << panel.stderrText();
}

TEST(PanelServer, BadRequestsAreRefusedWithTheCommandLinesMessages) {
  Panel panel(kLabBench);
  struct Case {
    const char* path;
    json body;
    const char* commandLine;
  };
  const std::vector<Case> cases = {
      {"/api/relay", {{"board", 0}, {"set", "0x1FFFF"}}, "relay --board 0 --set 0x1FFFF"},
      {"/api/relay", {{"board", 3}, {"set", 1}}, "relay --board 3 --set 1"},
      {"/api/digital", {{"board", 0}, {"set", "0x10000"}}, "dio --board 0 --set 0x10000"},
      {"/api/timer", {{"board", 0}, {"counter", 3}, {"divisor", 5}}, "timer --board 0 --counter 3 --divisor 5"},
      {"/api/reading", {{"board", 0}, {"channel", 16}, {"range", 0}}, "ai --board 0 --channel 16"},
      {"/api/reading", {{"board", 0}, {"channel", 0}, {"range", 5}}, "ai --board 0 --channel 0 --range 5"},
      {"/api/acquisition/start",
       {{"board", 0}, {"channel", 0}, {"range", 0}, {"divisor", 31}},
       "acquire --mode background --divisor 31"},
  };
  const uint64_t writes = panel.Bench()["relay_boards"][0]["output_writes"];
  for (const Case& c : cases) {
    const httplib::Result r = panel.Post(c.path, c.body);
    ASSERT_TRUE(r) << c.path;
    const ToolRun cli = Daqctl("--sim " + kLabBench + " " + c.commandLine);
    ASSERT_NE(cli.status, 0) << c.commandLine;
    EXPECT_EQ(r->status, cli.status == 2 ? 400 : 409) << c.commandLine << ": " << r->body;
    // The command line names its options with "--"; the page, its fields.
    std::string message = cli.err.substr(0, cli.err.find('\n'));
    ASSERT_EQ(message.rfind("daqctl: ", 0), 0u) << cli.err;
    message.erase(0, 8);
    for (size_t at; (at = message.find("--")) != std::string::npos;) message.erase(at, 2);
    EXPECT_EQ(json::parse(r->body).value("error", ""), message) << c.commandLine;
  }
  EXPECT_EQ(panel.Bench()["relay_boards"][0]["output_writes"], writes);
  // A body that is no JSON object.
  const httplib::Result r = panel.Client().Post("/api/relay", panel.PageHeaders(), "[1]", "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 400);
  EXPECT_EQ(json::parse(r->body)["error"], "the request must be a JSON object");
  EXPECT_EQ(panel.Stop(), 0) << panel.stderrText();
}

TEST(PanelServer, ALibraryErrorReadsAsOnTheCommandLine) {
  // The interrupt driver cannot be opened: background acquisition fails.
  const std::string scenario = std::string(DAQCTL_TEST_SCENARIOS) + "/no_interrupt_driver.json";
  Panel panel(scenario);
  const httplib::Result r =
      panel.Post("/api/acquisition/start", {{"board", 0}, {"channel", 0}, {"range", 0}, {"divisor", 400}});
  ASSERT_TRUE(r);
  const ToolRun cli = Daqctl("--sim " + scenario + " acquire --mode background --divisor 400 --count 10");
  ASSERT_EQ(cli.status, 1) << cli.err;
  EXPECT_EQ(r->status, 409) << r->body;
  const std::string error = json::parse(r->body).value("error", "");
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(Contains(cli.err, error)) << "panel: " << error << "\ncommand line: " << cli.err;
  EXPECT_EQ(panel.Stop(), 0) << panel.stderrText();
}

// The samples of daqctl's CSV as the board's 12-bit codes.
std::vector<int> CsvCodes(const std::string& csv, double fullScale, double period) {
  std::vector<int> codes;
  for (double v : CsvVolts(csv, period)) codes.push_back(int(std::lround(v / fullScale * 2048 + 2048)));
  return codes;
}

TEST(PanelServer, TheChartsFramesFollowTheRecordedSamplesInOrder) {
  Panel panel(kLabBench);
  // 100 columns for 1 s at 10 kHz: 100 samples a column.
  EventReader events(panel, "columns=100&seconds=1");
  ASSERT_TRUE(events.WaitFor([](const EventReader::Event& e) { return e.name == "hello"; }));
  const json started = panel.Do("/api/acquisition/start", {{"board", 0},
                                                           {"channel", 0},
                                                           {"range", 0},
                                                           {"divisor", 400},
                                                           {"record", true},
                                                           {"file", "sine.csv"}});
  ASSERT_EQ(started["recording"], panel.recordings() + "/sine.csv");
  // Some 30 columns (0.3 s of the 50 Hz sine).
  ASSERT_TRUE(events.WaitFor([](const EventReader::Event& e) {
    return e.name == "samples" && e.data["column"].get<uint64_t>() + e.data["min"].size() >= 30;
  }));
  const json stopped = panel.Do("/api/acquisition/stop", json::object());
  const std::string csv = Slurp(panel.recordings() + "/sine.csv");
  EXPECT_EQ(CsvComments(csv)["sample_count"], std::to_string(stopped["samples"].get<uint64_t>()));
  EXPECT_EQ(CsvComments(csv)["end"], "complete");
  const std::vector<int> codes = CsvCodes(csv, 10, 1e-4);
  ASSERT_GE(codes.size(), 3000u);

  // Every column received, in order, holds the smallest and largest code of
  // its 100 recorded samples.
  uint64_t next = 0, columns = 0;
  for (const EventReader::Event& e : events.Events()) {
    if (e.name != "samples") continue;
    EXPECT_EQ(e.data["acquisition"], 1);
    EXPECT_EQ(e.data["spc"], 100);
    EXPECT_EQ(e.data["dropped"], 0);
    const uint64_t first = e.data["column"];
    EXPECT_EQ(first, next) << "columns out of order or missing";
    const std::vector<int> mins = e.data["min"], maxs = e.data["max"];
    ASSERT_EQ(mins.size(), maxs.size());
    for (size_t k = 0; k < mins.size(); ++k) {
      const size_t from = (first + k) * 100;
      ASSERT_LE(from + 100, codes.size());
      const auto [lo, hi] = std::minmax_element(codes.begin() + long(from), codes.begin() + long(from + 100));
      EXPECT_EQ(mins[k], *lo) << "column " << first + k;
      EXPECT_EQ(maxs[k], *hi) << "column " << first + k;
    }
    next = first + mins.size();
    columns += mins.size();
  }
  EXPECT_GE(columns, 30u);
  // The sine swings through the 4 V peaks within each period (200 samples).
  EXPECT_NEAR((*std::max_element(codes.begin(), codes.end()) - 2048) * 10.0 / 2048, 4.0, 0.02);
  EXPECT_NEAR((*std::min_element(codes.begin(), codes.end()) - 2048) * 10.0 / 2048, -4.0, 0.02);
  EXPECT_EQ(panel.Stop(), 0) << panel.stderrText();
}

TEST(PanelServer, ARecordingIsWhatAcquireWrites) {
  Panel panel(kLabBench);
  // Channel 2 holds a steady 2.5 V: the samples do not depend on when the
  // acquisition starts, so the two files are equal line for line.
  panel.Do("/api/acquisition/start",
           {{"board", 0}, {"channel", 2}, {"range", 1}, {"divisor", 400}, {"record", true}, {"file", "dc.csv"}});
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (panel.Get("/api/hello")["state"]["acquisition"]["samples"].get<uint64_t>() < 2000 &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(20ms);
  }
  const uint64_t samples = panel.Do("/api/acquisition/stop", json::object())["samples"];
  ASSERT_GE(samples, 2000u);
  // A name that is taken is refused: the panel overwrites no recording.
  const httplib::Result again = panel.Post(
      "/api/acquisition/start",
      {{"board", 0}, {"channel", 2}, {"range", 1}, {"divisor", 400}, {"record", true}, {"file", "dc.csv"}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 400);
  EXPECT_TRUE(Contains(again->body, "exists")) << again->body;
  for (const char* name : {"../dc.csv", "/tmp/x.csv", "x.txt", ".csv"}) {
    const httplib::Result r = panel.Post(
        "/api/acquisition/start",
        {{"board", 0}, {"channel", 2}, {"range", 1}, {"divisor", 400}, {"record", true}, {"file", name}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400) << name;
  }
  EXPECT_EQ(panel.Stop(), 0) << panel.stderrText();

  const std::string file = panel.folder() + "/acquire.csv";
  const ToolRun acquire =
      Daqctl("--sim " + kLabBench + " acquire --mode background --board 0 --channel 2 --range 1 --divisor 400 "
             "--count " + std::to_string(samples) + " --output " + file);
  ASSERT_EQ(acquire.status, 0) << acquire.err;
  std::vector<std::string> recorded = Lines(Slurp(panel.recordings() + "/dc.csv")), written = Lines(Slurp(file));
  ASSERT_EQ(recorded.size(), written.size());
  for (size_t k = 0; k < recorded.size(); ++k) {
    if (recorded[k].rfind("# start_time: ", 0) == 0) {
      EXPECT_EQ(written[k].rfind("# start_time: ", 0), 0u);
      continue;
    }
    EXPECT_EQ(recorded[k], written[k]) << "line " << k + 1;
  }
}

TEST(PanelServer, APageThatReadsNothingCostsTheRecordingNoSample) {
  Panel panel(kLabBench);
  // A page that asks for the event stream and then reads nothing: its
  // socket's buffers fill and the server's writes to it stall.
  const int page = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(page, 0);
  int small = 4096;
  setsockopt(page, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(panel.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(page, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET /api/events?token=" + panel.token() + "&columns=4000&seconds=0.5 HTTP/1.1\r\n" +
                              "Host: 127.0.0.1:" + std::to_string(panel.port()) + "\r\n\r\n";
  ASSERT_EQ(send(page, request.data(), request.size(), 0), ssize_t(request.size()));

  // 125 kS/s, the board's fastest, for a second and a half.
  panel.Do("/api/acquisition/start",
           {{"board", 0}, {"channel", 0}, {"range", 0}, {"divisor", 32}, {"record", true}, {"file", "fast.csv"}});
  std::this_thread::sleep_for(1500ms);
  // The panel answers meanwhile.
  EXPECT_EQ(panel.Get("/api/hello")["state"]["acquisition"]["running"], true);
  const json stopped = panel.Do("/api/acquisition/stop", json::object());
  const uint64_t samples = stopped["samples"];
  EXPECT_GE(samples, 125000u);
  const json state = panel.Get("/api/hello")["state"];
  EXPECT_EQ(state["acquisition"]["error"], nullptr);
  EXPECT_EQ(state["recording"]["samples"], samples);
  close(page);
  EXPECT_EQ(panel.Stop(), 0) << panel.stderrText();

  const std::string csv = Slurp(panel.recordings() + "/fast.csv");
  EXPECT_EQ(CsvComments(csv)["sample_count"], std::to_string(samples));
  EXPECT_EQ(CsvComments(csv)["end"], "complete");
  EXPECT_EQ(CsvVolts(csv, 32 / 4e6).size(), samples);  // every index in order, none missing
}

TEST(PanelServer, ListeningBeyondThisMachineWarnsAndStillNeedsTheToken) {
  Panel panel(kLabBench, {"--listen", "0.0.0.0"});
  EXPECT_TRUE(Contains(panel.stderrText(), "daqctl: warning: the panel listens on 0.0.0.0")) << panel.stderrText();
  httplib::Client client = panel.Client();
  EXPECT_EQ(client.Get("/api/hello")->status, 403);
  EXPECT_EQ(client.Get(("/api/hello?token=" + panel.token()).c_str())->status, 200);
  EXPECT_EQ(panel.Post("/api/relay", {{"board", 0}, {"relay", 3}})->status, 200);
  const httplib::Result foreign = client.Post("/api/relay", {{"X-Panel-Token", panel.token()}, {"Origin", "http://evil.example"}},
                                              json{{"board", 0}, {"relay", 4}}.dump(), "application/json");
  EXPECT_EQ(foreign->status, 403);
  EXPECT_EQ(panel.Bench()["relay_boards"][0]["outputs"], 0x0008);
  EXPECT_EQ(panel.Stop(), 0) << panel.stderrText();

  // Loopback: no warning. Stopped at once after the URL is out (a stop
  // that came before the server ran once went unheard).
  Panel local(kLabBench);
  EXPECT_FALSE(Contains(local.stderrText(), "warning")) << local.stderrText();
  EXPECT_EQ(local.Stop(), 0) << local.stderrText();
}

TEST(PanelServer, TheCommandLineIsCheckedBeforeTheBenchIsTouched) {
  for (const char* args : {"panel --port 70000", "panel --listen example.org", "panel --record-folder /no/such",
                           "panel --clock fast"}) {
    const ToolRun r = Daqctl("--sim " + kLabBench + " " + std::string(args));
    EXPECT_EQ(r.status, 2) << args << ": " << r.err;
  }
}

}  // namespace
