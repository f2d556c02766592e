// Helpers shared by the PTZ unit tests: the driver as a command channel sees
// it (camera list, Gateway client, a log that can be waited on), and a
// simulated Gateway with a connected client.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/idriver.h"
#include "gateway/gw_client.h"
#include "gateway_simulator.h"
#include "session/session_test_support.h"
#include "strevon.h"
#include "support/fake_driver.h"

namespace quorvel {
namespace ptz_test {

using namespace std::chrono_literals;

using test_support::FakeDriver;
using test_support::LogLine;

inline CPtzCapabilities Caps(const std::string& text) {
  CPtzCapabilities caps;
  caps.FromString(text);
  return caps;
}

inline CameraRecord Camera(const std::string& pid, bool ptz, const std::string& caps) {
  CameraRecord record;
  record.pid = pid;
  record.ptz = ptz;
  record.ptzCapabilities = Caps(caps);
  return record;
}

constexpr const char* kAllCaps =
    "Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=1, Unzoom=1, AreaZoom=1, Preset=255";

// The built-in site without log-on; the dome's open and close requests get
// no status event unless a test asks for them, so that a late event from
// one case cannot reach the next.
inline strevon::sim::Scenario QuietScenario() {
  strevon::sim::Scenario scenario = session_test::ScenarioWithoutLogOn();
  scenario.dome_open_status.clear();
  scenario.dome_close_status.clear();
  return scenario;
}

// A simulated Gateway, a client connected to it and a fake driver whose
// channel 0 is the non-PTZ "cam-1" and channel 1 the dome "cam-2".
class PtzGatewayTest : public ::testing::Test {
 protected:
  explicit PtzGatewayTest(const strevon::sim::Scenario& scenario = QuietScenario())
      : gateway(scenario) {}

  void SetUp() override {
    ASSERT_TRUE(gateway.Connect("admin", "admin"));
    driver.client = &gateway.client;
    driver.cameras = {Camera("cam-1", false, "Pan=0, Tilt=0, Zoom=0, Preset=0"),
                      Camera("cam-2", true, kAllCaps)};
  }

  strevon::sim::GatewaySimulator& Sim() { return gateway.sim; }
  std::uint64_t Mark() { return Sim().Requests().size(); }

  std::optional<strevon::sim::RequestRecord> WaitFor(
      const std::string& command, std::uint64_t from,
      const std::function<bool(const strevon::sim::RequestRecord&)>& pred = nullptr) {
    return Sim().WaitForRequest(command, pred, 10s, from);
  }

  // Commands recorded from index from on, in order.
  std::vector<std::string> CommandsSince(std::uint64_t from) {
    std::vector<std::string> out;
    for (const auto& request : Sim().Requests()) {
      if (request.index >= from) out.push_back(request.command);
    }
    return out;
  }

  // Sends a request straight through the client and waits until the
  // simulator has it: everything queued before it has been written.
  void Barrier() {
    const std::uint64_t from = Mark();
    ClientMessage* message = new ClientMessage("user/barrier");
    ASSERT_TRUE(gateway.client.Send(message));
    ASSERT_TRUE(WaitFor("user/barrier", from).has_value());
  }

  session_test::SimulatedGateway gateway;
  FakeDriver driver;
};

}  // namespace ptz_test
}  // namespace quorvel
