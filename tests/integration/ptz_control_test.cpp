// PTZ through the host's interfaces against the simulated Gateway: the dome
// keep-alive, what a move looks like on the wire, refusals, StopMotion, and
// what Close leaves behind.
#include <algorithm>

#include "ptz_fixture.h"

namespace strevon {
namespace integration {
namespace {

using quorvel::IIPPTZApiEx;

TEST_F(PtzFixture, DomeIsOpenedBeforeTheFirstCommandAndAgainOnlyAfterItsTimeOut) {
  sim::Scenario s = sim::DefaultScenario();
  s.profiles.at(0).cameras.at(1).dome_timeout_s = 3;
  OpenConnected(s);
  IIPPTZApiEx* dome = ptz->GetPTZApiEx(1);
  ASSERT_NE(dome, nullptr);
  ASSERT_EQ(dome->Initialize(), 1);
  // The properties that answer the refresh's takeover carry the 3 s time-out.
  ASSERT_TRUE(RefreshUntil(dome, 3));

  const std::uint64_t from = Mark();
  ASSERT_EQ(dome->Move(0, 16), 1);
  const auto left = WaitFor("camera/ptz/left", from);
  ASSERT_TRUE(left.has_value());
  EXPECT_EQ(left->raw_text, "camera/ptz/left?pid=cam-2&speed=2");
  ASSERT_EQ(dome->Move(1, 16), 1);
  ASSERT_TRUE(WaitFor("camera/ptz/right", from).has_value());
  EXPECT_EQ(PtzCommandsSince(from),
            (std::vector<std::string>{"camera/ptz/open", "camera/ptz/left", "camera/ptz/right"}));

  // Leave the dome alone for longer than its time-out.
  std::this_thread::sleep_for(3500ms);
  ASSERT_EQ(dome->Move(2, 16), 1);
  ASSERT_TRUE(WaitFor("camera/ptz/up", from).has_value());
  EXPECT_EQ(PtzCommandsSince(from),
            (std::vector<std::string>{"camera/ptz/open", "camera/ptz/left", "camera/ptz/right",
                                      "camera/ptz/open", "camera/ptz/up"}));
  const auto open = WaitFor("camera/ptz/open", from);
  EXPECT_EQ(open->raw_text, "camera/ptz/open?pid=cam-2");
}

TEST_F(PtzFixture, RefusalsAndASingleStop) {
  OpenConnected(sim::DefaultScenario(), [](host::DeviceConfig& device) {
    // Channel 2: a camera that zooms but neither pans nor tilts.
    device.customParameters.at(4) =
        "2;cam-3;1;Pan=0, Tilt=0, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, "
        "Preset=0";
  });
  EXPECT_EQ(static_cast<quorvel::IIPPTZDriver*>(ptz), driver->GetPTZDriver());
  EXPECT_EQ(ptz->GetPTZApiEx(4), nullptr);
  IIPPTZApiEx* dome = ptz->GetPTZApiEx(1);
  ASSERT_NE(dome, nullptr);
  EXPECT_EQ(ptz->GetPTZApi(1), static_cast<quorvel::IIPPTZApi*>(dome));

  IIPPTZApiEx* zoomOnly = ptz->GetPTZApiEx(2);
  ASSERT_NE(zoomOnly, nullptr);
  EXPECT_EQ(zoomOnly->ZoomIn(5), -19);
  EXPECT_EQ(zoomOnly->ZoomOut(5), -19);
  EXPECT_EQ(zoomOnly->Move(8, 5), -19);

  const std::uint64_t from = Mark();
  ASSERT_EQ(dome->ZoomIn(8), 1);
  EXPECT_EQ(dome->StopMotion(), 1);
  EXPECT_EQ(dome->StopMotion(), 1);  // nothing left to stop
  EXPECT_EQ(dome->Move(10, 5), -3);
  // Direction 11 goes out bare; being queued behind the rest, it also marks
  // the end of what the calls above sent.
  ASSERT_EQ(dome->Move(11, 5), 1);
  const auto bare = WaitFor("camera/ptz/", from);
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(bare->raw_text, "camera/ptz/?pid=cam-2&speed=0");
  EXPECT_EQ(PtzCommandsSince(from),
            (std::vector<std::string>{"camera/ptz/open", "camera/ptz/zoomin", "camera/ptz/stop",
                                      "camera/ptz/"}));
}

TEST_F(PtzFixture, CloseReleasesEveryOpenedDomeAndStopsTheirThreads) {
  OpenConnected();
  const int before = ThreadCount();
  IIPPTZApiEx* plain = ptz->GetPTZApiEx(0);
  IIPPTZApiEx* dome = ptz->GetPTZApiEx(1);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(dome, nullptr);
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == before + 2; }, 5s))
      << ThreadCount() << " threads, " << before << " before";

  const std::uint64_t from = Mark();
  driver->Close();
  EXPECT_EQ(driver->GetPTZDriver(), nullptr);
  for (const char* pid : {"cam-1", "cam-2"}) {
    SCOPED_TRACE(pid);
    const auto close = WaitFor("camera/ptz/close", from,
                               [&](const sim::RequestRecord& r) { return r.Param("pid") == pid; });
    EXPECT_TRUE(close.has_value());
  }
  // Both command threads and the driver's own thread are gone.
  EXPECT_TRUE(Eventually([&] { return ThreadCount() <= before - 1; }, 5s))
      << ThreadCount() << " threads, " << before << " before";
}

}  // namespace
}  // namespace integration
}  // namespace strevon
