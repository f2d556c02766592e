// ViewServer: the web side of `strevon-host view`, on cpp-httplib. Serves
// the page (static files built into the tool), the live state and the
// driver's log as server-sent events, the channels' JPEG frames as delivered
// (one multipart/x-mixed-replace stream per channel, and one that carries
// every channel, so a page with many channels stays within the browser's
// six connections per host), and the page's actions (PTZ, outputs).
//
// Owns the HTTP server and its listening thread; uses the ViewModel, which
// must outlive it. Bind, Start and Stop run on the main thread; handlers
// run on the server's pool threads. Stop ends every stream within about
// half a second and joins every thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "view_model.h"

namespace httplib {
class Server;
class Request;
class Response;
}  // namespace httplib

namespace strevon {
namespace hosttool {

// "ADDRESS:PORT" for --listen (port 0: any free one). False with a reason.
bool ParseListenAddress(const std::string& text, std::string* host, int* port, std::string* error);
// 127.x.x.x, ::1 and localhost: reachable from this machine only.
bool IsLoopbackHost(const std::string& host);

class ViewServer {
 public:
  explicit ViewServer(ViewModel& model);
  ~ViewServer();
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  // Binds the listening socket; false with a message that says what to do
  // (a port in use names --listen).
  bool Bind(const std::string& host, int port, std::string* error);
  int Port() const { return m_port; }
  // Starts answering on the listening thread.
  bool Start(std::string* error);
  void Stop();

 private:
  void Routes();
  bool Allowed(const httplib::Request& request, httplib::Response& response) const;
  // Waits up to timeout; true when the server is stopping.
  bool WaitStopping(std::chrono::milliseconds timeout);
  void PageLeft();

  ViewModel& m_model;
  std::unique_ptr<httplib::Server> m_server;
  std::thread m_listener;
  std::atomic<bool> m_listenEnded{false};
  std::string m_host;
  int m_port = 0;
  bool m_loopback = true;

  std::mutex m_mutex;
  std::condition_variable m_stopped;
  bool m_stopping = false;  // guarded by m_mutex
  int m_pages = 0;          // open event streams; guarded by m_mutex
};

}  // namespace hosttool
}  // namespace strevon
