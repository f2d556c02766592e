// Integration fixture for PTZ: the driver opened by the test host against the
// simulator, logged on, with helpers to reach a channel's PTZ control and to
// read the PTZ requests the simulated Gateway received.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace strevon {
namespace integration {

class PtzFixture : public DriverFixture {
 protected:
  // Starts the simulator, opens the driver for the default device (after
  // adjust changed it) and waits until it logged on.
  void OpenConnected(const sim::Scenario& s = sim::DefaultScenario(),
                     const std::function<void(host::DeviceConfig&)>& adjust = nullptr) {
    StartSimulator(s);
    host::DeviceConfig device = DefaultDevice();
    if (adjust) adjust(device);
    ASSERT_TRUE(OpenDriver(device));
    ASSERT_TRUE(WaitConnected());
    ptz = driver->GetPTZDriverEx();
    ASSERT_NE(ptz, nullptr);
  }

  // Refreshes until the Gateway's answer to the takeover that the refresh
  // sends has arrived, so the names and the dome time-out are known.
  bool RefreshUntil(quorvel::IIPPTZApi* api, int count) {
    return Eventually([&] { return api->RefreshPresets() == count; }, 10s);
  }

  std::uint64_t Mark() { return simulator->Requests().size(); }

  std::optional<sim::RequestRecord> WaitFor(
      const std::string& command, std::uint64_t from,
      const std::function<bool(const sim::RequestRecord&)>& pred = nullptr) {
    return simulator->WaitForRequest(command, pred, 10s, from);
  }

  // The "camera/ptz/" commands (without takeovers) received from index from.
  std::vector<std::string> PtzCommandsSince(std::uint64_t from) {
    std::vector<std::string> out;
    for (const sim::RequestRecord& r : simulator->Requests()) {
      if (r.index < from || r.command.rfind("camera/ptz/", 0) != 0) continue;
      if (r.command == "camera/ptz/takeover") continue;
      out.push_back(r.command);
    }
    return out;
  }

  quorvel::IIPPTZDriverEx* ptz = nullptr;
};

}  // namespace integration
}  // namespace strevon
