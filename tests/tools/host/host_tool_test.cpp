// strevon-host as a user runs it, for each way it fails: the real tool
// process and driver library against the Gateway simulator, and the message
// that must tell the user what went wrong. What the tool does when all is
// well is the demo's business (HostToolDemoShort).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gateway_simulator.h"
#include "support/loopback_peer.h"
#include "support/process.h"
#include "support/temp_home.h"

namespace strevon {
namespace hosttool {
namespace {

using namespace std::chrono_literals;

struct ToolError {
  const char* name;
  std::vector<std::string> args;
  std::string says;
};

TEST(HostToolTest, EachFailureIsExplainedAndExitsNonZero) {
  const quorvel::test_support::TempHome home;  // the tool inherits STREVON_HOME
  std::ifstream settings(STREVON_DEMO_SETTINGS);  // the query reports the resolutions set there
  home.Write(std::string(std::istreambuf_iterator<char>(settings), std::istreambuf_iterator<char>()));
  sim::GatewaySimulator gateway;
  ASSERT_TRUE(gateway.Start());
  const std::string gw = "127.0.0.1:" + std::to_string(gateway.Port());
  const std::string closed = "127.0.0.1:" + std::to_string(quorvel::test_support::ClosedLoopbackPort());
  const std::string dev = home.Path() + "device.json";
  const std::string none = home.Path() + "none";
  auto tool = [](std::vector<std::string> args) {
    args.insert(args.begin(), STREVON_HOST_EXE);
    return quorvel::test_support::RunProcess(args, {}, 30s);
  };
  const auto saved = tool({"query", gw, "-u", "admin", "-p", "admin", "--save", dev});
  ASSERT_EQ(0, saved.exitCode) << saved.output;

  const ToolError cases[] = {
      {"unreachable Gateway", {"query", closed, "-u", "admin", "-p", "admin", "--timeout", "1"},
       "the Gateway at " + closed + " is unreachable: Connection refused"},
      {"refused log-on", {"query", gw, "-u", "admin", "-p", "wrong"},
       "query failed (status 1): Failed to get camera properties, login failed (invalid credentials)"},
      {"missing library", {"--lib", none, "query", gw, "-u", "a", "-p", "b"}, "driver library not found: " + none},
      {"bad port", {"query", "127.0.0.1:99999", "-u", "a", "-p", "b"}, "'99999' is not a port number (1 to 65535)"},
      {"missing device file", {"ptz", "--device", none},
       "cannot read the device file " + none + " (write one with: strevon-host query"},
      {"fixed camera", {"ptz", "--device", dev, "--channel", "0"},
       "no PTZ on channel 0 (camera cam-1 is fixed; PTZ channels: 1)"},
      {"unknown preset", {"ptz", "--device", dev, "--preset", "Garage"},
       "no preset named 'Garage' (presets: Door, Gate, Yard)"},
      {"channel out of range", {"stream", "--device", dev, "--channels", "0,4", "--out", none},
       "channel 4 is out of range: the device has 4 channels (0 to 3)"},
      {"output out of range", {"io", "--device", dev, "--toggle", "2"}, "output 2 is out of range"},
      {"view channel out of range", {"view", "--device", dev, "--channels", "9"},
       "channel 9 is out of range: the device has 4 channels (0 to 3)"},
      {"view port in use", {"view", "--device", dev, "--listen", gw},
       "cannot listen on " + gw + ": the port is already in use; choose another with --listen 127.0.0.1:PORT"},
      {"view listen address", {"view", "--device", dev, "--listen", "8090"}, "'8090' is not ADDRESS:PORT"},
  };
  for (const ToolError& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = tool(c.args);
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(0, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find(c.says)) << r.output;
  }
}

}  // namespace
}  // namespace hosttool
}  // namespace strevon
