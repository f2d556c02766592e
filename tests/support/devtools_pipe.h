// A headless Chromium driven over its DevTools protocol on a pipe
// (--remote-debugging-pipe: the browser reads NUL-terminated JSON commands
// on fd 3 and writes answers and events on fd 4), so a test can load a page,
// run script in it, press and release the mouse and take a screenshot with
// nothing but the browser itself. Every wait has a deadline; the browser is
// killed when the object goes. One test thread uses it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace quorvel {
namespace test_support {

class DevToolsPipe {
 public:
  using Json = nlohmann::json;

  // args[0] is the browser; --remote-debugging-pipe is added.
  explicit DevToolsPipe(std::vector<std::string> args) {
    int commands[2];
    int replies[2];
    if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(replies, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, commands[0], 3);
    posix_spawn_file_actions_adddup2(&actions, replies[1], 4);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    args.push_back("--remote-debugging-pipe");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(commands[0]);
    ::close(replies[1]);
    m_out = commands[1];
    m_in = replies[0];
  }
  ~DevToolsPipe() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) ::close(m_out);
    if (m_in >= 0) ::close(m_in);
  }
  DevToolsPipe(const DevToolsPipe&) = delete;
  DevToolsPipe& operator=(const DevToolsPipe&) = delete;

  bool Started() const { return m_pid > 0; }
  const std::string& Error() const { return m_error; }

  // Sends a command and waits for its answer: the "result" object, or null
  // with Error() set (an error answer, a closed pipe, the deadline).
  Json Call(const std::string& method, Json params = Json::object(),
            std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    const int id = ++m_lastId;
    Json command = {{"id", id}, {"method", method}, {"params", std::move(params)}};
    if (!m_session.empty()) command["sessionId"] = m_session;
    const std::string text = command.dump() + '\0';
    if (m_out < 0 || ::write(m_out, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      m_error = method + ": cannot write to the browser";
      return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      Json message;
      if (!Next(deadline, &message)) {
        m_error = method + ": no answer from the browser in time";
        return nullptr;
      }
      if (!message.contains("id") || message["id"] != id) continue;  // an event, or another answer
      if (message.contains("error")) {
        m_error = method + ": " + message["error"].dump();
        return nullptr;
      }
      return message.value("result", Json::object());
    }
  }

  // Attaches to the first page, so that later calls go to it.
  bool AttachToPage() {
    const Json targets = Call("Target.getTargets");
    if (targets.is_null()) return false;
    for (const Json& t : targets["targetInfos"]) {
      if (t.value("type", "") != "page") continue;
      const Json attached = Call("Target.attachToTarget", {{"targetId", t["targetId"]}, {"flatten", true}});
      if (attached.is_null()) return false;
      m_session = attached.value("sessionId", "");
      return !m_session.empty();
    }
    m_error = "the browser has no page";
    return false;
  }

  // Runs script in the page (a promise is awaited) and returns its value.
  Json Evaluate(const std::string& expression, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    const Json result = Call("Runtime.evaluate",
                             {{"expression", expression}, {"awaitPromise", true}, {"returnByValue", true}},
                             timeout + std::chrono::milliseconds(2000));
    if (result.is_null()) return nullptr;
    if (result.contains("exceptionDetails")) {
      m_error = "script failed: " + result["exceptionDetails"].dump();
      return nullptr;
    }
    return result["result"].value("value", Json());
  }

  // True once the page-side condition holds, false at the deadline; the
  // page itself waits (on its own timers), the test only for the answer.
  // A page still loading (its script context replaced) is asked again.
  bool WaitInPage(const std::string& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      const std::string script =
          "new Promise((done) => { const end = Date.now() + " + std::to_string(left.count()) +
          "; const check = () => { let ok = false; try { ok = !!(" + condition +
          "); } catch (e) {} if (ok || Date.now() > end) done(ok); else setTimeout(check, 50); }; check(); })";
      const Json result = Evaluate(script, left);
      if (!result.is_null()) return result == true;
      Json ignored;
      Next(std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(50)), &ignored);
    }
  }

  // Presses or releases the left button at page coordinates.
  bool Mouse(const std::string& type, double x, double y) {
    return !Call("Input.dispatchMouseEvent", {{"type", type}, {"x", x}, {"y", y}, {"button", "left"},
                                              {"buttons", type == "mousePressed" ? 1 : 0}, {"clickCount", 1}})
                .is_null();
  }

 private:
  // The next message from the browser, or false at the deadline.
  bool Next(std::chrono::steady_clock::time_point deadline, Json* message) {
    for (;;) {
      const std::size_t end = m_buffer.find('\0');
      if (end != std::string::npos) {
        *message = Json::parse(m_buffer.substr(0, end), nullptr, false);
        m_buffer.erase(0, end + 1);
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{m_in, POLLIN, 0};
      if (m_in < 0 || left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return false;
      char chunk[65536];
      const ssize_t n = ::read(m_in, chunk, sizeof chunk);
      if (n <= 0) return false;
      m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
  }

  pid_t m_pid = -1;
  int m_out = -1;
  int m_in = -1;
  int m_lastId = 0;
  std::string m_session;
  std::string m_buffer;
  std::string m_error;
};

}  // namespace test_support
}  // namespace quorvel
