// The panel's HTTP server.
#include "server.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

#if defined(_WIN32) && !defined(_WIN32_WINNT)
// cpp-httplib needs Windows Vista's sockets (inet_pton, getaddrinfo).
#define _WIN32_WINNT 0x0600
#endif
#include <httplib.h>

#include "assets.h"
#include "daqctl.h"
#include "fields.h"

#if defined(DAQCTL_SIM)
#include "sim_hooks.h"
#endif

namespace daqctl::panel {

using nlohmann::json;

namespace {

// Threads that serve requests: a page keeps one for its event stream and
// the browser a few connections besides.
constexpr size_t kServerThreads = 16;
// A page that has had nothing for this long gets a comment, which also
// tells a page that has gone.
constexpr int kIdleBeatsPerComment = 4;
constexpr auto kEventWait = std::chrono::milliseconds(500);

bool IsIpv4(const std::string& text) {
  int parts = 0;
  size_t i = 0;
  while (i <= text.size()) {
    const size_t dot = std::min(text.find('.', i), text.size());
    const std::string part = text.substr(i, dot - i);
    const std::optional<uint64_t> value = ParseWholeNumber(part, 255);
    if (part.empty() || part.size() > 3 || !value || part.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    ++parts;
    i = dot + 1;
  }
  return parts == 4;
}

bool IsIpv6(const std::string& text) {
  return text.find(':') != std::string::npos && text.find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos;
}

// How the URL and the Host header write the address.
std::string HostName(const std::string& address) { return IsIpv6(address) ? "[" + address + "]" : address; }

void SendJson(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

void SendReply(httplib::Response& res, const Reply& reply) { SendJson(res, reply.status, reply.body); }

// The request's body as JSON, handed to `work`; a body that is no JSON
// object is answered as the command line answers a bad option.
template <class Work>
Reply WithRequest(const httplib::Request& req, Work work) {
  json request;
  try {
    request = ParseRequest(req.body);
  } catch (const Failure& f) {
    return Reply{400, {{"error", f.what()}}};
  }
  return work(request);
}

// ?columns=N&seconds=S of the event stream, within bounds.
ChartView ViewOf(const httplib::Request& req) {
  ChartView view;
  if (req.has_param("columns")) {
    const std::optional<uint64_t> columns = ParseWholeNumber(req.get_param_value("columns"), 100000);
    if (columns) view.columns = uint32_t(std::clamp<uint64_t>(*columns, 50, 4000));
  }
  if (req.has_param("seconds")) {
    const std::optional<double> seconds = ParseDecimal(req.get_param_value("seconds"));
    if (seconds) view.seconds = std::clamp(*seconds, 0.5, 60.0);
  }
  return view;
}

}  // namespace

bool ListenAddress::loopback() const { return address.rfind("127.", 0) == 0 || address == "::1"; }
bool ListenAddress::wildcard() const { return address == "0.0.0.0" || address == "::"; }

ListenAddress ParseListenAddress(const std::string& text, const char* name) {
  if (text == "localhost") return ListenAddress{"127.0.0.1"};
  if (!IsIpv4(text) && !IsIpv6(text)) {
    throw Failure(kExitUsage, fmt::format("{} '{}': give an IP address of this machine (127.0.0.1, 0.0.0.0, ::1, "
                                          "...)",
                                          name, text));
  }
  return ListenAddress{text};
}

struct PanelServer::Impl {
  Impl(Rig& rig, std::string token) : rig(rig) { policy.token = std::move(token); }
  void Routes();

  // A request that changes something: POST only, its body a JSON object.
  void Post(const char* path, std::function<Reply(const json&)> handle);
  bool IsPostRoute(const std::string& path) const {
    return std::find(postPaths.begin(), postPaths.end(), path) != postPaths.end();
  }

  Rig& rig;
  AccessPolicy policy;
  httplib::Server http;
  std::vector<std::string> postPaths;  // set before the server starts
  std::thread thread;
  std::atomic<bool> served{false};  // listen_after_bind returned
};

PanelServer::PanelServer(Rig& rig, std::string token) : impl_(std::make_unique<Impl>(rig, std::move(token))) {
  impl_->Routes();
}

PanelServer::~PanelServer() { Stop(); }

std::string PanelServer::Bind(const ListenAddress& listen, unsigned port) {
  httplib::Server& http = impl_->http;
  int bound = -1;
  if (port == 0) {
    bound = http.bind_to_any_port(listen.address);
  } else if (http.bind_to_port(listen.address, int(port))) {
    bound = int(port);
  }
  if (bound <= 0) {
    throw Failure(kExitFailure, port == 0 ? fmt::format("cannot listen on {}", listen.address)
                                          : fmt::format("cannot listen on {} port {}: it is in use, or not this "
                                                        "machine's address",
                                                        listen.address, port));
  }
  // The names a browser may reach the panel by: the address, and
  // "localhost" for the loopback address. Listening on every interface, the
  // names cannot be known; the token alone guards then.
  std::vector<std::string>& hosts = impl_->policy.hosts;
  if (!listen.wildcard()) {
    hosts.push_back(fmt::format("{}:{}", HostName(listen.address), bound));
    if (listen.loopback()) hosts.push_back(fmt::format("localhost:{}", bound));
  }
  const std::string host = listen.wildcard() ? (listen.address == "::" ? "[::1]" : "127.0.0.1") : HostName(listen.address);
  return fmt::format("http://{}:{}/?token={}", host, bound, impl_->policy.token);
}

void PanelServer::Start() {
  impl_->thread = std::thread([this] {
    impl_->http.listen_after_bind();
    impl_->served = true;
  });
  // httplib's stop() stops only a server that runs already: one asked to
  // stop before its thread got there would wait for connections forever (a
  // Ctrl-C right after the start). Start returns once it runs.
  while (!impl_->http.is_running() && !impl_->served) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void PanelServer::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->http.stop();
  impl_->thread.join();
}

bool PanelServer::running() const { return impl_->thread.joinable() && !impl_->served; }

void PanelServer::Impl::Post(const char* path, std::function<Reply(const json&)> handle) {
  postPaths.emplace_back(path);
  http.Post(path, [handle = std::move(handle)](const httplib::Request& req, httplib::Response& res) {
    SendReply(res, WithRequest(req, handle));
  });
}

void PanelServer::Impl::Routes() {
  http.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  http.set_keep_alive_timeout(2);
  http.set_read_timeout(5);
  http.set_write_timeout(5);
  http.set_payload_max_length(64 * 1024);
  http.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                            {"Referrer-Policy", "no-referrer"},
                            {"Cache-Control", "no-store"},
                            {"X-Frame-Options", "DENY"}});

  // Every request: the token, the host, and for a change the origin and the
  // body's type. The body of a refused request is never read.
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    AccessRequest request;
    request.method = req.method;
    request.queryToken = req.get_param_value("token");
    request.headerToken = req.get_header_value(kTokenHeader);
    if (req.has_header("Origin")) request.origin = req.get_header_value("Origin");
    request.host = req.get_header_value("Host");
    request.contentType = req.get_header_value("Content-Type");
    const AccessDecision decision = CheckAccess(policy, request);
    if (decision.allowed()) return httplib::Server::HandlerResponse::Unhandled;
    SendJson(res, decision.status, {{"error", decision.reason}});
    if (decision.status == 405) res.set_header("Allow", "GET, POST");
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });
  http.set_error_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;
    if (res.status == 404 && IsPostRoute(req.path)) {
      res.set_header("Allow", "POST");
      SendJson(res, 405, {{"error", fmt::format("{} takes POST only", req.path)}});
      return;
    }
    SendJson(res, res.status,
             {{"error", res.status == 404 ? fmt::format("{} {}: no such page", req.method, req.path)
                                          : fmt::format("{} {}: refused ({})", req.method, req.path, res.status)}});
  });
  http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
    std::string what = "unknown";
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    SendJson(res, 500, {{"error", fmt::format("internal error: {}", what)}});
  });

  // The page, with the token in its files' addresses.
  http.Get("/", [this](const httplib::Request&, httplib::Response& res) {
    const Asset* page = FindAsset("index.html");
    std::string html(page->text());
    for (size_t at; (at = html.find("{{TOKEN}}")) != std::string::npos;) html.replace(at, 9, policy.token);
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; connect-src 'self'; "
                   "img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    res.set_content(html, page->type);
  });
  http.Get("/assets/([A-Za-z0-9._-]+)", [](const httplib::Request& req, httplib::Response& res) {
    const Asset* asset = FindAsset(req.matches[1].str());
    if (!asset || asset->name == std::string_view("index.html")) {
      SendJson(res, 404, {{"error", "no such file"}});
      return;
    }
    res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->type);
  });

  http.Get("/api/hello", [this](const httplib::Request&, httplib::Response& res) { SendJson(res, 200, rig.Hello()); });
  http.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
    std::shared_ptr<PageStream> page = rig.Subscribe(ViewOf(req));
    if (!page) {
      SendJson(res, 503, {{"error", fmt::format("at most {} pages may follow the panel at once", FrameHub::kMaxPages)}});
      return;
    }
    res.set_chunked_content_provider(
        "text/event-stream",
        [page, idle = 0](size_t, httplib::DataSink& sink) mutable {
          std::optional<std::string> events = page->Next(kEventWait);
          if (!events) {
            sink.done();
            return true;
          }
          if (events->empty()) {
            if (++idle < kIdleBeatsPerComment) return true;
            *events = ": idle\n\n";
          }
          idle = 0;
          return sink.write(events->data(), events->size());
        },
        [this, page](bool) { rig.Unsubscribe(page); });
  });

  Post("/api/relay", [this](const json& r) { return rig.Relay(r); });
  Post("/api/select", [this](const json& r) { return rig.Select(r); });
  Post("/api/digital", [this](const json& r) { return rig.Digital(r); });
  Post("/api/timer", [this](const json& r) { return rig.Timer(r); });
  Post("/api/reading", [this](const json& r) { return rig.Reading(r); });
  Post("/api/acquisition/start", [this](const json& r) { return rig.StartAcquisition(r); });
  Post("/api/acquisition/stop", [this](const json&) { return rig.StopAcquisition(); });
  Post("/api/recording/start", [this](const json& r) { return rig.StartRecording(r); });
  Post("/api/recording/stop", [this](const json&) { return rig.StopRecording(); });

#if defined(DAQCTL_SIM)
  // The simulated build's hooks for tests: the bench as it is, and its inputs
  // changed while the panel runs. The hardware build has neither.
  http.Get("/sim/bench", [this](const httplib::Request&, httplib::Response& res) {
    SendReply(res, rig.Run([] { return BenchState(); }));
  });
  Post("/sim/inputs", [this](const json& r) { return rig.Run([&] { return SetBenchInputs(r); }); });
#endif
}

}  // namespace daqctl::panel
