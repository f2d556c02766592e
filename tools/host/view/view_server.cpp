#include "view_server.h"

#include <httplib.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>

#include "view_assets.h"

namespace strevon {
namespace hosttool {

namespace {

using nlohmann::json;

constexpr const char* kBoundary = "strevonframe";
constexpr std::size_t kPoolThreads = 32;
constexpr auto kStreamTick = std::chrono::milliseconds(500);
constexpr auto kStateEvery = std::chrono::milliseconds(1000);
// The page redraws at most this often however busy the driver's log is.
constexpr auto kEventGap = std::chrono::milliseconds(150);
constexpr std::size_t kLogBatch = 500;
constexpr std::size_t kLogBacklog = 300;
// A page's actions carry this header; a page of another site cannot send
// it without the browser asking first (and this server never agrees).
constexpr const char* kActionHeader = "X-Strevon-View";

bool ParseNumber(const std::string& text, std::uint32_t* value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = static_cast<std::uint32_t>(std::stoul(text));
  return true;
}

void Reply(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(json({{"ok", status == 200}, {"result", text}}).dump(), "application/json");
}

std::string PartHeader(std::size_t device, std::uint32_t channel, std::size_t size) {
  return std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
         std::to_string(size) + "\r\nX-Channel: " + std::to_string(device) + "/" + std::to_string(channel) +
         "\r\n\r\n";
}

struct Target {
  std::size_t device;
  std::uint32_t channel;
  std::uint64_t sent;  // frame count at the last part written
};

}  // namespace

bool ParseListenAddress(const std::string& text, std::string* host, int* port, std::string* error) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || text.find(':') != colon) {
    *error = "'" + text + "' is not ADDRESS:PORT (for example 127.0.0.1:8090, or 0.0.0.0:8090 for every "
             "interface)";
    return false;
  }
  std::uint32_t value = 0;
  if (!ParseNumber(text.substr(colon + 1), &value) || value > 65535) {
    *error = "'" + text.substr(colon + 1) + "' is not a port number (0 to 65535; 0 takes a free one)";
    return false;
  }
  *host = text.substr(0, colon);
  *port = static_cast<int>(value);
  return true;
}

bool IsLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || host.compare(0, 4, "127.") == 0;
}

ViewServer::ViewServer(ViewModel& model) : m_model(model), m_server(std::make_unique<httplib::Server>()) {
  m_server->new_task_queue = [] { return new httplib::ThreadPool(kPoolThreads); };
  Routes();
}

ViewServer::~ViewServer() { Stop(); }

bool ViewServer::Bind(const std::string& host, int port, std::string* error) {
  m_host = host;
  m_loopback = IsLoopbackHost(host);
  errno = 0;
  if (port == 0) {
    m_port = m_server->bind_to_any_port(host);
  } else {
    m_port = m_server->bind_to_port(host, port) ? port : -1;
  }
  if (m_port > 0) return true;
  const int code = errno;
  const std::string where = host + ":" + std::to_string(port);
  if (code == EADDRINUSE) {
    *error = "cannot listen on " + where + ": the port is already in use; choose another with --listen " +
             host + ":PORT (port 0 takes a free one)";
  } else {
    *error = "cannot listen on " + where + (code != 0 ? std::string(": ") + std::strerror(code) : "") +
             " (is " + host + " an address of this machine? choose one with --listen ADDRESS:PORT)";
  }
  return false;
}

bool ViewServer::Start(std::string* error) {
  if (m_port <= 0) {
    *error = "the view is not bound to a port";
    return false;
  }
  m_listener = std::thread([this] {
    m_server->listen_after_bind();
    m_listenEnded = true;
  });
  // Stop can only end a server that runs, so Start returns once it does.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!m_server->is_running() && !m_listenEnded && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (m_server->is_running()) return true;
  *error = "the view's web server did not start on " + m_host + ":" + std::to_string(m_port);
  return false;
}

void ViewServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping && !m_listener.joinable()) return;
    m_stopping = true;
  }
  m_stopped.notify_all();
  m_model.Wake();
  if (m_listener.joinable()) {
    // A server that never came up in Start has ended or will end by itself.
    m_server->stop();
    m_listener.join();
  }
}

bool ViewServer::WaitStopping(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_stopped.wait_for(lock, timeout, [&] { return m_stopping; });
}

void ViewServer::PageLeft() {
  bool last = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    last = --m_pages == 0 && !m_stopping;
  }
  // A page that goes while a button is held cannot send the stop itself.
  if (last) m_model.StopAllMotion("the page was left");
}

bool ViewServer::Allowed(const httplib::Request& request, httplib::Response& response) const {
  if (!m_loopback) return true;
  // Bound to loopback, answer only requests addressed to loopback: a page
  // of another site whose name is made to point here must not get in.
  std::string host = request.get_header_value("Host");
  host = !host.empty() && host[0] == '[' ? host.substr(0, host.find(']') + 1) : host.substr(0, host.find(':'));
  if (host == m_host || host == "localhost" || host == "127.0.0.1" || host == "[::1]") return true;
  response.status = 403;
  response.set_content("This view answers on " + m_host + " only.\n", "text/plain");
  return false;
}

void ViewServer::Routes() {
  httplib::Server& s = *m_server;
  s.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    return Allowed(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                      : httplib::Server::HandlerResponse::Handled;
  });
  s.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    Reply(response, 500, "the view failed to answer this request");
  });

  s.Get("/", [](const httplib::Request&, httplib::Response& response) {
    const ViewAsset* page = FindViewAsset("index.html");
    response.set_header("Cache-Control", "no-cache");
    response.set_content(reinterpret_cast<const char*>(page->data), page->size, page->type);
  });
  s.Get(R"(/([a-z0-9_.-]+\.(js|css|html|svg)))", [](const httplib::Request& request, httplib::Response& response) {
    const ViewAsset* asset = FindViewAsset(request.matches[1]);
    if (asset == nullptr) {
      response.status = 404;
      return;
    }
    response.set_header("Cache-Control", "no-cache");
    response.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->type);
  });

  s.Get("/api/state", [this](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_content(m_model.StateJson(), "application/json");
  });

  // State and log lines as server-sent events: "state" with the whole
  // state on every change (at least once a second), "log" with the new
  // lines. The last page to go stops any motion still running.
  s.Get("/api/events", [this](const httplib::Request&, httplib::Response& response) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_pages;
    }
    struct Cursor {
      std::uint64_t version = 0;
      std::uint64_t log = 0;
      bool first = true;
    };
    auto cursor = std::make_shared<Cursor>();
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor](std::size_t, httplib::DataSink& sink) {
          if (!cursor->first) {
            if (WaitStopping(kEventGap)) return false;
            cursor->version = m_model.WaitForChange(cursor->version, kStateEvery);
            if (WaitStopping(std::chrono::milliseconds(0))) return false;
          }
          std::string out = cursor->first ? "retry: 1000\n\n" : "";
          out += "event: state\ndata: " + m_model.StateJson() + "\n\n";
          const std::vector<LogEntry> lines =
              m_model.Log().Since(cursor->log, cursor->first ? kLogBacklog : kLogBatch);
          cursor->first = false;
          if (!lines.empty()) {
            json batch = json::array();
            for (const LogEntry& e : lines) {
              batch.push_back({{"seq", e.sequence}, {"level", e.level}, {"t", e.timeS},
                               {"device", e.device}, {"text", e.text}});
            }
            cursor->log = lines.back().sequence;
            out += "event: log\ndata: " + batch.dump(-1, ' ', false, json::error_handler_t::replace) + "\n\n";
          }
          return sink.write(out.data(), out.size());
        },
        [this](bool) { PageLeft(); });
  });

  // Motion JPEG: one channel (/video/D/C.mjpg, for an <img> or a player)
  // or every channel in one stream (/video, each part labelled X-Channel).
  // A slow reader gets the latest frame, never a queue of old ones.
  auto stream = [this](std::vector<Target> targets, httplib::Response& response) {
    auto state = std::make_shared<std::pair<std::uint64_t, std::vector<Target>>>(0, std::move(targets));
    response.set_header("Cache-Control", "no-store");
    response.set_content_provider(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [this, state](std::size_t, httplib::DataSink& sink) {
          state->first = m_model.WaitForFrames(state->first, kStreamTick);
          if (WaitStopping(std::chrono::milliseconds(0))) return false;
          for (Target& t : state->second) {
            const std::uint64_t count = m_model.FrameCount(t.device, t.channel);
            if (count == t.sent) continue;
            t.sent = count;
            const std::vector<unsigned char> jpeg = m_model.LatestJpeg(t.device, t.channel);
            if (jpeg.empty()) continue;
            const std::string head = PartHeader(t.device, t.channel, jpeg.size());
            if (!sink.write(head.data(), head.size()) ||
                !sink.write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()) || !sink.write("\r\n", 2)) {
              return false;
            }
          }
          return true;
        });
  };
  s.Get("/video", [this, stream](const httplib::Request&, httplib::Response& response) {
    std::vector<Target> targets;
    for (std::size_t d = 0; d < m_model.DeviceCount(); ++d) {
      for (std::uint32_t c : m_model.Channels(d)) targets.push_back({d, c, 0});
    }
    stream(std::move(targets), response);
  });
  s.Get(R"(/video/(\d+)/(\d+)\.mjpg)", [this, stream](const httplib::Request& request, httplib::Response& response) {
    std::uint32_t device = 0;
    std::uint32_t channel = 0;
    bool known = ParseNumber(request.matches[1], &device) && ParseNumber(request.matches[2], &channel);
    if (known) {
      const std::vector<std::uint32_t> channels = m_model.Channels(device);
      known = std::find(channels.begin(), channels.end(), channel) != channels.end();
    }
    if (!known) {
      response.status = 404;
      response.set_content("no such channel in this view\n", "text/plain");
      return;
    }
    stream({{device, channel, 0}}, response);
  });

  s.Post("/api/ptz", [this](const httplib::Request& request, httplib::Response& response) {
    if (!request.has_header(kActionHeader)) return Reply(response, 403, "missing the page's action header");
    std::uint32_t device = 0;
    std::uint32_t channel = 0;
    std::uint32_t speed = 8;
    if (!ParseNumber(request.get_param_value("device"), &device) ||
        !ParseNumber(request.get_param_value("channel"), &channel) ||
        (request.has_param("speed") && !ParseNumber(request.get_param_value("speed"), &speed))) {
      return Reply(response, 400, "name the device, the channel (and the speed) as numbers");
    }
    const ActionResult result = m_model.Ptz(
        device, channel, PtzRequest{request.get_param_value("action"), request.get_param_value("value"), speed});
    Reply(response, result.httpStatus, result.text);
  });
  s.Post("/api/output", [this](const httplib::Request& request, httplib::Response& response) {
    if (!request.has_header(kActionHeader)) return Reply(response, 403, "missing the page's action header");
    std::uint32_t device = 0;
    std::uint32_t output = 0;
    if (!ParseNumber(request.get_param_value("device"), &device) ||
        !ParseNumber(request.get_param_value("output"), &output)) {
      return Reply(response, 400, "name the device and the output as numbers");
    }
    const ActionResult result = m_model.ToggleOutput(device, output);
    Reply(response, result.httpStatus, result.text);
  });
  // The page's last word when it is closed or hidden (a beacon, which
  // cannot carry the action header; stopping is always safe).
  s.Post("/api/stop", [this](const httplib::Request&, httplib::Response& response) {
    const int stops = m_model.StopAllMotion("the page was left");
    Reply(response, 200, std::to_string(stops) + " motion(s) stopped");
  });
}

}  // namespace hosttool
}  // namespace strevon
