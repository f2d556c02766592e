// PTZ through the host's interfaces against the simulated Gateway: the dome
// keep-alive and a move as it goes on the wire. Result codes, presets and
// the release of the domes are checked against the PTZ parts directly.
#include "integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

using PtzTest = IntegrationFixture;

TEST_F(PtzTest, DomeIsOpenedBeforeTheFirstCommandAndAgainOnlyAfterItsTimeOut) {
  sim::Scenario s = sim::DefaultScenario();
  s.profiles.at(0).cameras.at(1).dome_timeout_s = 1;
  ASSERT_NO_FATAL_FAILURE(Open(s));
  quorvel::IIPPTZApiEx* dome = ptz->GetPTZApiEx(1);
  ASSERT_NE(dome, nullptr);
  ASSERT_EQ(dome->Initialize(), 1);
  // The properties that answer the refresh's takeover carry the time-out.
  ASSERT_TRUE(WaitUntil([&] { return dome->RefreshPresets() == 3; }));

  const std::uint64_t from = Mark();
  const auto ptzRequests = [&] {  // takeovers left out
    std::vector<std::string> out;
    for (const sim::RequestRecord& r : simulator->Requests()) {
      const bool ptzCommand = r.command.rfind("camera/ptz/", 0) == 0 && r.command != "camera/ptz/takeover";
      if (r.index >= from && ptzCommand) out.push_back(r.raw_text);
    }
    return out;
  };
  ASSERT_EQ(dome->Move(0, 16), 1);
  ASSERT_EQ(dome->Move(1, 16), 1);
  const auto right = simulator->WaitForRequest("camera/ptz/right", nullptr, 10s, from);
  ASSERT_TRUE(right.has_value());
  const std::vector<std::string> first = {"camera/ptz/open?pid=cam-2", "camera/ptz/left?pid=cam-2&speed=2",
                                           "camera/ptz/right?pid=cam-2&speed=2"};
  EXPECT_EQ(ptzRequests(), first);

  // The time-out itself has to pass; the driver's last activity came before
  // the Gateway received "right".
  ASSERT_TRUE(WaitUntil([&] { return sim::MonotonicNs() >= right->mono_ns + 1100000000u; }, 3000));
  ASSERT_EQ(dome->Move(2, 16), 1);
  ASSERT_TRUE(simulator->WaitForRequest("camera/ptz/up", nullptr, 10s, from).has_value());
  std::vector<std::string> all = first;
  all.insert(all.end(), {"camera/ptz/open?pid=cam-2", "camera/ptz/up?pid=cam-2&speed=2"});
  EXPECT_EQ(ptzRequests(), all);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
