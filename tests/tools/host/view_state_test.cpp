// What `strevon-host view` says when there is no picture, on the page (its
// state, which the banner shows) and on the terminal alike: a Gateway that
// is unreachable, a log-on the Gateway refuses (the driver's own text), and
// a connection that is lost and comes back.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "gateway_simulator.h"
#include "support/loopback_peer.h"
#include "support/process.h"
#include "support/temp_home.h"

namespace strevon {
namespace hosttool {
namespace {

using namespace std::chrono_literals;
using quorvel::test_support::ChildProcess;

// The view started with args; its page's address.
std::string StartView(ChildProcess& view) {
  if (!view.WaitForOutput("(Ctrl-C stops)", 30s)) return "";
  std::smatch url;
  const std::string said = view.Output();
  return std::regex_search(said, url, std::regex("127\\.0\\.0\\.1:([0-9]+)/")) ? url[1].str() : "";
}

// Polls the page's state until pred holds for device 0; false at the deadline.
bool WaitForState(const std::string& port, const std::function<bool(const nlohmann::json&)>& pred,
                  std::chrono::milliseconds timeout, nlohmann::json* last) {
  httplib::Client client("127.0.0.1", std::stoi(port));
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto response = client.Get("/api/state");
    if (response && response->status == 200) {
      *last = nlohmann::json::parse(response->body)["devices"][0];
      if (pred(*last)) return true;
    }
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

TEST(ViewStateTest, SaysWhyThereIsNoPictureAndWhenTheConnectionIsBack) {
  const quorvel::test_support::TempHome home;
  std::ifstream settings(STREVON_DEMO_SETTINGS);
  home.Write(std::string(std::istreambuf_iterator<char>(settings), std::istreambuf_iterator<char>()));
  sim::GatewaySimulator gateway;
  ASSERT_TRUE(gateway.Start());
  const std::string gw = "127.0.0.1:" + std::to_string(gateway.Port());
  const std::string dev = home.Path() + "device.json";
  const auto saved = quorvel::test_support::RunProcess(
      {STREVON_HOST_EXE, "query", gw, "-u", "admin", "-p", "admin", "--save", dev}, {}, 30s);
  ASSERT_EQ(0, saved.exitCode) << saved.output;
  // The same device behind a port nobody listens on.
  const std::string closed = std::to_string(quorvel::test_support::ClosedLoopbackPort());
  std::ifstream in(dev);
  home.Write(std::regex_replace(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
                                std::regex("\"port\": *[0-9]+"), "\"port\": " + closed),
             "closed.json");

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {"unreachable", {"--device", home.Path() + "closed.json"},
       "the Gateway at 127.0.0.1:" + closed + " is unreachable: Connection refused"},
      {"log-on refused", {"--device", dev, "-p", "wrong", "--connect-timeout", "1"},
       "login failed (invalid credentials)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {STREVON_HOST_EXE, "view", "--listen", "127.0.0.1:0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ChildProcess view(args);
    const std::string port = StartView(view);
    ASSERT_FALSE(port.empty()) << view.Output();
    nlohmann::json state;
    EXPECT_TRUE(WaitForState(port, [&](const nlohmann::json& d) {
      return d["problem"].get<std::string>().find(c.says) != std::string::npos;
    }, 20s, &state)) << state.dump();
    EXPECT_TRUE(view.WaitForOutput(c.says, 5s)) << view.Output();
    view.Signal(SIGINT);
    EXPECT_EQ(0, view.Wait(15s));
  }

  SCOPED_TRACE("lost and back");
  ChildProcess view({STREVON_HOST_EXE, "view", "--listen", "127.0.0.1:0", "--device", dev});
  const std::string port = StartView(view);
  ASSERT_FALSE(port.empty()) << view.Output();
  nlohmann::json state;
  auto connection = [&](const char* word) {
    return [word](const nlohmann::json& d) { return d["connection"] == word; };
  };
  ASSERT_TRUE(WaitForState(port, connection("connected"), 20s, &state)) << state.dump();
  gateway.RefuseConnections(5000ms);
  gateway.ResetConnections();
  EXPECT_TRUE(WaitForState(port, connection("lost"), 10s, &state)) << state.dump();
  EXPECT_EQ("reconnecting", state["channels"][0]["status"]);
  EXPECT_TRUE(WaitForState(port, [](const nlohmann::json& d) { return d["back_s"].is_number(); }, 20s, &state))
      << state.dump();
  EXPECT_TRUE(view.WaitForOutput("the Gateway connection is back", 5s)) << view.Output();
  EXPECT_NE(std::string::npos, view.Output().find("the Gateway connection is lost")) << view.Output();
  view.Signal(SIGINT);
  EXPECT_EQ(0, view.Wait(15s));
}

}  // namespace
}  // namespace hosttool
}  // namespace strevon
