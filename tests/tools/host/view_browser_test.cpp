// `strevon-host view` in a real browser: the tool process and the driver
// library against the Gateway simulator, headless Chromium on the page, and
// every check made from the page itself: each channel's picture changes,
// an input lamp follows the Gateway, a held "left" button moves the dome
// until it is released, a preset is recalled from the page's list, the
// output button reaches the Gateway. Leaves a screenshot of the page behind
// (./run screenshot copies it to docs/).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "gateway_simulator.h"
#include "support/process.h"
#include "support/temp_home.h"

namespace strevon {
namespace hosttool {
namespace {

using namespace std::chrono_literals;

// A headless Chromium driven over its DevTools protocol on a pipe
// (--remote-debugging-pipe: the browser reads NUL-terminated JSON commands
// on fd 3 and writes answers and events on fd 4), so that the test can load
// the page, run script in it, press and release the mouse and take a
// screenshot with nothing but the browser itself. The browser runs as a
// child process whose standard input and output a shell hands it as fd 3
// and 4. Every wait has a deadline; the browser is killed when the object
// goes.
class DevToolsPipe : private quorvel::test_support::detail::OsChild {
 public:
  using Json = nlohmann::json;

  // args[0] is the browser; --remote-debugging-pipe is added.
  explicit DevToolsPipe(std::vector<std::string> args) : OsChild(ThroughShell(std::move(args)), {}) {}

  using OsChild::Started;
  const std::string& Error() const { return m_error; }

  // Sends a command and waits for its answer: the "result" object, or null
  // with Error() set (an error answer, a closed pipe, the deadline).
  Json Call(const std::string& method, Json params = Json::object(),
            std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    const int id = ++m_lastId;
    Json command = {{"id", id}, {"method", method}, {"params", std::move(params)}};
    if (!m_session.empty()) command["sessionId"] = m_session;
    if (!Write(command.dump() + '\0')) {
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
  static std::vector<std::string> ThroughShell(std::vector<std::string> args) {
    args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$@\" --remote-debugging-pipe 3<&0 4>&1 >/dev/null 2>&1", "sh"});
    return args;
  }

  // The next message from the browser, or false at the deadline.
  bool Next(std::chrono::steady_clock::time_point deadline, Json* message) {
    for (;;) {
      const std::size_t end = m_buffer.find('\0');
      if (end != std::string::npos) {
        *message = Json::parse(m_buffer.substr(0, end), nullptr, false);
        m_buffer.erase(0, end + 1);
        return true;
      }
      if (!ReadSome(deadline, m_buffer)) return false;
    }
  }

  int m_lastId = 0;
  std::string m_session;
  std::string m_buffer;
  std::string m_error;
};

constexpr const char* kPassword = "pässwörd";

// The distinct pictures each channel's canvas has shown, sampled by the
// page every 100 ms until every channel showed two, or the time is up.
constexpr const char* kPicturesChange = R"JS(
new Promise((done) => {
  const seen = new Map();
  const end = Date.now() + 20000;
  const probe = document.createElement('canvas');
  probe.width = 64; probe.height = 48;
  const g = probe.getContext('2d', { willReadFrequently: true });
  const tick = () => {
    const canvases = [...document.querySelectorAll('canvas[id^="video-"]')];
    for (const c of canvases) {
      g.clearRect(0, 0, 64, 48);
      g.drawImage(c, 0, 0, 64, 48);
      const px = g.getImageData(0, 0, 64, 48).data;
      let h = 0;
      for (let i = 0; i < px.length; i += 4) h = (Math.imul(h, 31) + px[i] + px[i + 1] * 7 + px[i + 2] * 13) >>> 0;
      if (!seen.has(c.id)) seen.set(c.id, new Set());
      if (h !== 0) seen.get(c.id).add(h);
    }
    const changed = canvases.filter((c) => seen.get(c.id).size >= 2).length;
    if ((canvases.length > 0 && changed === canvases.length) || Date.now() > end) {
      done({ canvases: canvases.length, changed });
    } else {
      setTimeout(tick, 100);
    }
  };
  tick();
}))JS";

std::string Centre(const std::string& selector) {
  return "(() => { const e = document.querySelector('" + selector +
         "'); e.scrollIntoView({ block: 'center' }); const r = e.getBoundingClientRect();"
         " return [r.x + r.width / 2, r.y + r.height / 2]; })()";
}

bool WritePng(const std::string& base64, const std::string& path) {
  std::vector<unsigned char> png(base64.size());
  const int n = EVP_DecodeBlock(png.data(), reinterpret_cast<const unsigned char*>(base64.data()),
                                static_cast<int>(base64.size()));
  if (n <= 0) return false;
  std::size_t size = static_cast<std::size_t>(n);
  for (auto it = base64.rbegin(); it != base64.rend() && *it == '='; ++it) --size;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                              static_cast<std::streamsize>(size));
  return true;
}

TEST(ViewBrowserTest, PageShowsEveryChannelAndDrivesTheGateway) {
  if (std::string(STREVON_CHROMIUM).empty()) GTEST_SKIP() << "no chromium (./run test installs it)";
  const quorvel::test_support::TempHome home;  // the tool inherits STREVON_HOME
  std::ifstream settings(STREVON_DEMO_SETTINGS);
  // Information lines too, so that the page's log has the channels coming online.
  home.Write(std::regex_replace(
      std::string(std::istreambuf_iterator<char>(settings), std::istreambuf_iterator<char>()),
      std::regex("<LogLevel>[0-9]+</LogLevel>"), "<LogLevel>3</LogLevel>"));
  sim::GatewaySimulator gateway;
  ASSERT_TRUE(gateway.Start());
  const std::string gw = "127.0.0.1:" + std::to_string(gateway.Port());

  quorvel::test_support::ChildProcess view(
      {STREVON_HOST_EXE, "view", gw, "-u", "operator", "-p", kPassword, "--listen", "127.0.0.1:0"});
  ASSERT_TRUE(view.WaitForOutput("(Ctrl-C stops)", 30s)) << view.Output();
  std::smatch url;
  const std::string said = view.Output();
  ASSERT_TRUE(std::regex_search(said, url, std::regex("http://127\\.0\\.0\\.1:[0-9]+/"))) << said;

  DevToolsPipe browser({STREVON_CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        "--user-data-dir=" + home.Path() + "browser", "--window-size=1280,1000",
                        "--hide-scrollbars", url.str()});
  ASSERT_TRUE(browser.Started());
  ASSERT_TRUE(browser.AttachToPage()) << browser.Error();
  ASSERT_TRUE(browser.WaitInPage("document.querySelectorAll('canvas[id^=\"video-\"]').length === 4", 10s))
      << browser.Error();

  {
    SCOPED_TRACE("every channel's picture changes");
    const DevToolsPipe::Json pictures = browser.Evaluate(kPicturesChange, 25s);
    ASSERT_FALSE(pictures.is_null()) << browser.Error();
    EXPECT_EQ(4, pictures.value("canvases", 0));
    EXPECT_EQ(4, pictures.value("changed", 0)) << pictures.dump();
  }
  {
    SCOPED_TRACE("the input lamp follows the Gateway");
    const std::string lamp = "document.querySelector('#input-0-0 .lamp').dataset.state";
    gateway.SetInput("in-1", true);
    EXPECT_TRUE(browser.WaitInPage(lamp + " === 'on'", 5s));
    gateway.SetInput("in-1", false);
    EXPECT_TRUE(browser.WaitInPage(lamp + " === 'off'", 5s));
  }
  {
    SCOPED_TRACE("a held left button moves the dome until it is released");
    const std::string left = "#tile-0-1 [data-ptz=\"move\"][data-value=\"left\"]";
    ASSERT_TRUE(browser.WaitInPage("!document.querySelector('" + left + "').disabled", 10s));
    const DevToolsPipe::Json at = browser.Evaluate(Centre(left));
    ASSERT_TRUE(at.is_array()) << browser.Error();
    ASSERT_TRUE(browser.Mouse("mousePressed", at[0], at[1])) << browser.Error();
    const auto moved = gateway.WaitForRequest("camera/ptz/left", nullptr, 5000ms);
    ASSERT_TRUE(moved.has_value());
    EXPECT_FALSE(gateway.WaitForRequest("camera/ptz/stop", nullptr, 0ms, moved->index).has_value())
        << "stopped while the button was still held";
    ASSERT_TRUE(browser.Mouse("mouseReleased", at[0], at[1])) << browser.Error();
    EXPECT_TRUE(gateway.WaitForRequest("camera/ptz/stop", nullptr, 5000ms, moved->index).has_value());
  }
  {
    SCOPED_TRACE("a preset from the page's list is recalled");
    ASSERT_TRUE(browser.WaitInPage("[...document.querySelectorAll('#tile-0-1 .preset-list option')]"
                                   ".some((o) => o.value === 'Gate')", 10s));
    browser.Evaluate("document.querySelector('#tile-0-1 .preset-list').value = 'Gate';"
                     "document.querySelector('#tile-0-1 .preset-go').click()");
    EXPECT_TRUE(gateway.WaitForRequest(
        "camera/ptz/preset", [](const sim::RequestRecord& r) { return r.Param("name") == "Gate"; }, 5000ms));
    EXPECT_TRUE(browser.WaitInPage("document.querySelector('#tile-0-1 .ptz-last').textContent.includes('at Gate')", 5s));
  }
  {
    SCOPED_TRACE("the output button reaches the Gateway");
    const DevToolsPipe::Json at = browser.Evaluate(Centre("#output-0-0 button"));
    ASSERT_TRUE(at.is_array()) << browser.Error();
    ASSERT_TRUE(browser.Mouse("mousePressed", at[0], at[1]));
    ASSERT_TRUE(browser.Mouse("mouseReleased", at[0], at[1]));
    const auto toggled = gateway.WaitForRequest(
        "switch/toggle", [](const sim::RequestRecord& r) { return r.Param("pid") == "out-1"; },
        5000ms);
    EXPECT_TRUE(toggled.has_value());
    EXPECT_TRUE(browser.WaitInPage("document.querySelector('#output-0-0').textContent.includes('toggled 1')", 5s));
  }
  EXPECT_EQ(false, browser.Evaluate("document.documentElement.outerHTML.includes('" + std::string(kPassword) +
                                    "') || document.documentElement.outerHTML.includes('p%C3%A4ss')"))
      << "the password shows on the page";
  EXPECT_TRUE(browser.WaitInPage("document.querySelectorAll('#log li').length > 0", 5s)) << "no driver log";

  gateway.SetInput("in-2", true);  // one lamp lit in the picture
  browser.WaitInPage("document.querySelector('#input-0-1 .lamp').dataset.state === 'on'", 5s);
  browser.Evaluate("window.scrollTo(0, 0)");
  const DevToolsPipe::Json shot =
      browser.Call("Page.captureScreenshot", {{"format", "png"}, {"captureBeyondViewport", false}});
  ASSERT_FALSE(shot.is_null()) << browser.Error();
  EXPECT_TRUE(WritePng(shot.value("data", ""), STREVON_VIEW_SCREENSHOT));

  // The view stops cleanly with the page's streams still open.
  view.Signal(SIGINT);
  EXPECT_EQ(0, view.Wait(15s)) << view.Output();
}

}  // namespace
}  // namespace hosttool
}  // namespace strevon
