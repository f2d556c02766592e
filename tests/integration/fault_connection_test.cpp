// A Gateway connection that breaks or carries junk. Faults that end the
// connection lead to a fresh log-on, after which the driver recovers in full;
// faults inside a live connection cost at most the message they spoil.
// Every case ends with a clean shutdown.
#include "integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

using FaultConnectionTest = IntegrationFixture;
using G = sim::GatewaySimulator;

struct WireFault {
  const char* name;
  std::function<std::size_t(G&)> inject;  // connections it reached
};

// Long enough for one refused connect of the driver's 1 s retry round; the
// refused attempt then costs the driver its whole 5 s connect time-out.
constexpr auto kRefusal = 1200ms;

const WireFault kConnectionEnding[] = {
    {"reset mid header", [](G& gw) { return gw.ResetMidHeader(); }},
    {"reset mid body", [](G& gw) { return gw.ResetMidBody(); }},
    {"reset between messages", [](G& gw) { return gw.ResetConnections(); }},
    {"orderly close", [](G& gw) { return gw.CloseConnections(); }},
    {"listener closed for a while",
     [](G& gw) { return gw.RefuseConnections(kRefusal, sim::RefuseMode::kCloseListener), gw.ResetConnections(); }},
    {"connections reset on accept for a while",
     [](G& gw) { return gw.RefuseConnections(kRefusal, sim::RefuseMode::kAcceptAndReset), gw.ResetConnections(); }},
};

const WireFault kInsideTheConnection[] = {
    {"garbage before a marker", [](G& gw) { return gw.SendGarbage(5000); }},
    {"header length 0", [](G& gw) { return gw.SendHeaderLength(0); }},
    {"header length 600", [](G& gw) { return gw.SendHeaderLength(600); }},
    {"header length 0x100000", [](G& gw) { return gw.SendHeaderLength(0x100000); }},
    {"body length above the limit", [](G& gw) { return gw.SendBodyTooLong(); }},
    {"ping flood", [](G& gw) { return gw.SendPingFlood(2000); }},
    {"validation request for video/stream", [](G& gw) { return gw.SendValidationRequest("video/stream"); }},
    {"validation request for user/logon", [](G& gw) { return gw.SendValidationRequest("user/logon"); }},
    {"validation request for recorder/event", [](G& gw) { return gw.SendValidationRequest("recorder/event"); }},
    {"stream for a channel never started", [](G& gw) { return gw.SendUnsolicited(1); }},
    {"stream for a channel the device lacks", [](G& gw) { return gw.SendUnsolicited(9); }},
};

// "Resilient" is on, so that each fault hits a streaming connection: the
// stream is subscribed again as soon as the driver has logged on.
TEST_F(FaultConnectionTest, ConnectionEndingFaultsEndInAFreshLogOnAndFullRecovery) {
  ASSERT_NO_FATAL_FAILURE(OpenStreaming(WithResilience(kMotionOnChannelOne)));
  for (const WireFault& fault : kConnectionEnding) {
    SCOPED_TRACE(fault.name);
    const std::uint64_t mark = Mark();
    EXPECT_GE(fault.inject(*simulator), 1u);
    ASSERT_TRUE(WaitConnected(mark, kReconnectBound + kRefusal))
        << "no fresh log-on; connections accepted " << simulator->ConnectionsAccepted();
    ASSERT_NO_FATAL_FAILURE(ExpectStreamResumes());
  }
  EXPECT_EQ(Status(0), 0);
  ASSERT_NO_FATAL_FAILURE(ExpectPtzReachesGateway());
  EXPECT_TRUE(InputEventReachesHost("in-2"));
  CloseAndCheck();
}

TEST_F(FaultConnectionTest, FaultsInsideALiveConnectionCostAtMostTheSpoiledMessage) {
  ASSERT_NO_FATAL_FAILURE(OpenStreaming());
  for (const WireFault& fault : kInsideTheConnection) {
    SCOPED_TRACE(fault.name);
    const std::uint64_t frames = handlers[0].FrameCount();
    EXPECT_GE(fault.inject(*simulator), 1u);
    EXPECT_TRUE(handlers[0].WaitForFrames(frames + 3, 10s)) << "stream stopped";
  }
  EXPECT_EQ(simulator->CountRequests("user/logon"), 1u) << "connection was replaced";
  EXPECT_EQ(simulator->ConnectionsAccepted(), 1u);
  EXPECT_EQ(checkers[0].FirstProblem(), "");
  EXPECT_EQ(Status(0), 0);
  ASSERT_NO_FATAL_FAILURE(ExpectPtzReachesGateway());
  EXPECT_TRUE(InputEventReachesHost("in-2"));
  CloseAndCheck();
}

// The driver waits out the reply time-out (5 s) of a log-on whose
// connection is gone, so this fault gets a fresh driver of its own: a
// second one would find the first log-on's status and wait out the
// subscription and profile replies too.
TEST_F(FaultConnectionTest, ResetDuringTheLogOnIsRetried) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator(TwoCameras()));
  simulator->SetResetOn("user/logon", true);
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  ASSERT_TRUE(simulator->WaitForRequest("user/logon", nullptr, 10s).has_value());
  ASSERT_TRUE(simulator->WaitForActiveConnections(0, 5s));
  simulator->SetResetOn("user/logon", false);
  EXPECT_TRUE(WaitConnected(0, 15s)) << "no log-on after the reset one";
  EXPECT_GE(simulator->ConnectionsAccepted(), 2u);
  CloseAndCheck();
}

// Regression: a reset right after the profile reply could be handled before
// the connect sequence marked the driver connected, which then stayed
// "connected" to a dead connection and never logged on again.
TEST_F(FaultConnectionTest, ResetRightAfterTheProfileRequestStillEndsInAFreshLogOn) {
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras(), kMotionOnChannelOne, false));
  std::uint64_t mark = 0;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const auto profile = simulator->WaitForRequest("user/profile", nullptr, kReconnectBound, mark);
    ASSERT_TRUE(profile.has_value()) << "no fresh log-on";
    mark = profile->index + 1;
    simulator->ResetConnections();
  }
  EXPECT_TRUE(WaitConnected(mark)) << "no fresh log-on after the last reset";
  CloseAndCheck();
}

class ResilienceTest : public IntegrationFixture, public ::testing::WithParamInterface<bool> {};

// Channel 0 streams at full rate and channel 1 motion only when the
// connection is reset.
TEST_P(ResilienceTest, InputEventsAndMotionOnlyStreamAfterAReconnection) {
  const bool resilient = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenStreaming(resilient ? WithResilience(kMotionOnChannelOne) : kMotionOnChannelOne));
  checkers[1].Attach(handlers[1]);
  ASSERT_NO_FATAL_FAILURE(StartChannels({1}, 2));

  const std::uint64_t mark = Mark();
  ASSERT_GE(simulator->ResetConnections(), 1u);
  ASSERT_TRUE(WaitConnected(mark));
  if (resilient) {
    EXPECT_TRUE(InputEventReachesHost("in-2"));  // without a new StartIO
    const auto again = WaitForChannelRequest("video/realtime/subscribe", 1, mark);
    ASSERT_TRUE(again.has_value()) << "motion-only stream not subscribed again";
    EXPECT_EQ(again->Param("type"), "MotionOnly");
    EXPECT_TRUE(handlers[1].WaitForFrames(handlers[1].FrameCount() + 2, 10s));
  } else {
    // The old event registration is gone: the "on" waits for a new StartIO
    // (a bounded wait for what must not happen: one event round trip).
    EXPECT_FALSE(InputEventReachesHost("in-2", 300ms)) << "input event reached the host without StartIO";
    io->StopIO();
    ASSERT_TRUE(io->StartIO());
    EXPECT_TRUE(InputEventReachesHost("in-2"));
    // The restart pass that brought channel 0 back left channel 1 alone.
    const std::uint64_t motionFrames = handlers[1].FrameCount();
    ASSERT_TRUE(WaitForChannelRequest("video/realtime/subscribe", 0, mark).has_value());
    ASSERT_NO_FATAL_FAILURE(ExpectStreamResumes());
    EXPECT_FALSE(WaitForChannelRequest("video/realtime/subscribe", 1, mark, 0ms));
    EXPECT_EQ(handlers[1].FrameCount(), motionFrames) << "motion-only stream came back";
    EXPECT_EQ(Status(1), 0);
  }
  EXPECT_EQ(checkers[1].FirstProblem(), "");
  CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(Setting, ResilienceTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "ResilientOn" : "ResilientOff");
                         });

}  // namespace
}  // namespace integration
}  // namespace strevon
