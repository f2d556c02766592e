// Helpers shared by the session tests: server messages built the way the
// Gateway client's receiver builds them, and a Gateway client connected to
// a simulated Gateway on 127.0.0.1.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gateway/gw_client.h"
#include "gateway/server_message.h"
#include "gateway_simulator.h"
#include "strevon.h"

namespace quorvel {
namespace session_test {

// headers in order; body "" means no body.
inline ServerMessage MakeMessage(const std::vector<std::pair<std::string, std::string>>& headers,
                                 const std::string& body = std::string()) {
  std::string text;
  for (const auto& header : headers) text += header.first + ": " + header.second + "\r\n";
  text += "\r\n";
  ServerMessage message;
  message.SetHeaderData(std::vector<char>(text.begin(), text.end()));
  message.SetBody(std::vector<char>(body.begin(), body.end()));
  EXPECT_TRUE(message.Parse()) << text;
  return message;
}

// The built-in site, answering every request without a log-on first.
inline strevon::sim::Scenario ScenarioWithoutLogOn() {
  strevon::sim::Scenario scenario = strevon::sim::DefaultScenario();
  scenario.require_logon = false;
  return scenario;
}

// A simulator and a client connected to it as the given user.
class SimulatedGateway {
 public:
  explicit SimulatedGateway(const strevon::sim::Scenario& scenario =
                                strevon::sim::DefaultScenario())
      : sim(scenario) {}
  ~SimulatedGateway() { client.Disconnect(); }

  ::testing::AssertionResult Connect(const std::string& user, const std::string& password,
                                     std::uint32_t connectTimeout = 5000) {
    std::string error;
    if (!sim.Start(0, &error)) return ::testing::AssertionFailure() << "simulator: " << error;
    device.address = "127.0.0.1";
    device.port = sim.Port();
    device.userName = user;
    device.password = password;
    device.connectTimeout = connectTimeout;
    if (!client.Connect(device)) return ::testing::AssertionFailure() << "client did not connect";
    return ::testing::AssertionSuccess();
  }

  strevon::sim::GatewaySimulator sim;
  CGWClient client;
  DEVICE_INFO device;
};

}  // namespace session_test
}  // namespace quorvel
