// PTZ through the host's interfaces against the simulated Gateway: the dome
// keep-alive and a move as it goes on the wire. Result codes, presets and
// the release of the domes are checked against the PTZ parts directly.
#include "integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

using quorvel::IIPPTZApiEx;
using PtzTest = IntegrationFixture;

// The "camera/ptz/" commands other than takeovers, from index from.
std::vector<std::string> PtzCommandsSince(const sim::GatewaySimulator& gw, std::uint64_t from) {
  std::vector<std::string> out;
  for (const sim::RequestRecord& r : gw.Requests()) {
    if (r.index >= from && r.command.rfind("camera/ptz/", 0) == 0 && r.command != "camera/ptz/takeover") {
      out.push_back(r.command);
    }
  }
  return out;
}

TEST_F(PtzTest, DomeIsOpenedBeforeTheFirstCommandAndAgainOnlyAfterItsTimeOut) {
  sim::Scenario s = sim::DefaultScenario();
  s.profiles.at(0).cameras.at(1).dome_timeout_s = 1;
  ASSERT_NO_FATAL_FAILURE(Open(s));
  IIPPTZApiEx* dome = ptz->GetPTZApiEx(1);
  ASSERT_NE(dome, nullptr);
  ASSERT_EQ(dome->Initialize(), 1);
  // The properties that answer the refresh's takeover carry the time-out.
  ASSERT_TRUE(WaitUntil([&] { return dome->RefreshPresets() == 3; }));

  const std::uint64_t from = Mark();
  ASSERT_EQ(dome->Move(0, 16), 1);
  ASSERT_EQ(dome->Move(1, 16), 1);
  const auto right = simulator->WaitForRequest("camera/ptz/right", nullptr, 10s, from);
  ASSERT_TRUE(right.has_value());
  EXPECT_EQ(simulator->WaitForRequest("camera/ptz/open", nullptr, 0ms, from)->raw_text,
            "camera/ptz/open?pid=cam-2");
  EXPECT_EQ(simulator->WaitForRequest("camera/ptz/left", nullptr, 0ms, from)->raw_text,
            "camera/ptz/left?pid=cam-2&speed=2");
  EXPECT_EQ(PtzCommandsSince(*simulator, from),
            (std::vector<std::string>{"camera/ptz/open", "camera/ptz/left", "camera/ptz/right"}));

  // The time-out itself has to pass; the driver's last activity came before
  // the Gateway received "right".
  ASSERT_TRUE(WaitUntil([&] { return sim::MonotonicNs() >= right->mono_ns + 1100000000u; }, 3000));
  ASSERT_EQ(dome->Move(2, 16), 1);
  ASSERT_TRUE(simulator->WaitForRequest("camera/ptz/up", nullptr, 10s, from).has_value());
  EXPECT_EQ(PtzCommandsSince(*simulator, from),
            (std::vector<std::string>{"camera/ptz/open", "camera/ptz/left", "camera/ptz/right",
                                      "camera/ptz/open", "camera/ptz/up"}));
}

}  // namespace
}  // namespace integration
}  // namespace strevon
