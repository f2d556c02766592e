// A Gateway connection that breaks or carries junk. Faults that end the
// connection (resets, an orderly close, a refusing Gateway) must lead to a
// fresh log-on, after which the full-rate stream comes back through the
// stall watchdog, PTZ commands get through, and input events reach the host
// only once it starts I/O again. Faults inside a live connection (junk
// before a marker, impossible lengths, pings, server requests) must cost at
// most the message they spoil: no new log-on, the stream and the input
// events go on. Each group of faults shares one recovery wait.
#include <functional>
#include <vector>

#include "fault_fixture.h"

namespace strevon {
namespace integration {
namespace {

struct WireFault {
  const char* name;
  std::function<void(sim::GatewaySimulator&)> inject;
};

struct FaultGroup {
  const char* name;
  // True: each fault ends the connection and the driver logs on again.
  bool reconnects;
  std::vector<WireFault> faults;
};

// Resets every log-on attempt for a while, then lets the next one through.
void ResetDuringLogOn(sim::GatewaySimulator& gw) {
  const std::uint64_t from = gw.Requests().size();
  gw.SetResetOn("user/logon", true);
  gw.ResetConnections();
  // Two refused attempts: the driver keeps retrying.
  const auto first = gw.WaitForRequest("user/logon", nullptr, kReconnectBound, from);
  const auto second =
      first ? gw.WaitForRequest("user/logon", nullptr, kReconnectBound, first->index + 1)
            : std::nullopt;
  EXPECT_TRUE(second.has_value()) << "no second log-on attempt";
  gw.SetResetOn("user/logon", false);
}

std::vector<FaultGroup> Groups() {
  using G = sim::GatewaySimulator;
  return {
      {"Resets",
       true,
       {
           {"reset mid header", [](G& gw) { EXPECT_GE(gw.ResetMidHeader(), 1u); }},
           {"reset mid body", [](G& gw) { EXPECT_GE(gw.ResetMidBody(), 1u); }},
           {"reset between messages", [](G& gw) { EXPECT_GE(gw.ResetConnections(), 1u); }},
           {"orderly close", [](G& gw) { EXPECT_GE(gw.CloseConnections(), 1u); }},
       }},
      {"LogOnAndRefusal",
       true,
       {
           {"reset during the log-on", ResetDuringLogOn},
           {"listener closed for 3 s",
            [](G& gw) {
              gw.RefuseConnections(std::chrono::seconds(3), sim::RefuseMode::kCloseListener);
              EXPECT_GE(gw.ResetConnections(), 1u);
            }},
           {"connections reset on accept for 3 s",
            [](G& gw) {
              gw.RefuseConnections(std::chrono::seconds(3), sim::RefuseMode::kAcceptAndReset);
              EXPECT_GE(gw.ResetConnections(), 1u);
            }},
       }},
      {"Framing",
       false,
       {
           {"garbage before a marker", [](G& gw) { EXPECT_GE(gw.SendGarbage(5000), 1u); }},
           {"header length 0", [](G& gw) { EXPECT_GE(gw.SendHeaderLength(0), 1u); }},
           {"header length 600", [](G& gw) { EXPECT_GE(gw.SendHeaderLength(600), 1u); }},
           {"header length 0x100000", [](G& gw) { EXPECT_GE(gw.SendHeaderLength(0x100000), 1u); }},
           {"body length above the limit", [](G& gw) { EXPECT_GE(gw.SendBodyTooLong(), 1u); }},
       }},
      {"ServerNoise",
       false,
       {
           {"ping flood", [](G& gw) { EXPECT_GE(gw.SendPingFlood(2000), 1u); }},
           {"validation request for video/stream",
            [](G& gw) { EXPECT_GE(gw.SendValidationRequest("video/stream"), 1u); }},
           {"validation request for user/logon",
            [](G& gw) { EXPECT_GE(gw.SendValidationRequest("user/logon"), 1u); }},
           {"validation request for recorder/event",
            [](G& gw) { EXPECT_GE(gw.SendValidationRequest("recorder/event"), 1u); }},
           {"stream for a channel never started", [](G& gw) { EXPECT_GE(gw.SendUnsolicited(1), 1u); }},
           {"stream for a channel the device lacks", [](G& gw) { EXPECT_GE(gw.SendUnsolicited(9), 1u); }},
       }},
  };
}

void PrintTo(const FaultGroup& group, std::ostream* os) { *os << group.name; }

class FaultConnectionTest : public FaultFixture, public ::testing::WithParamInterface<FaultGroup> {};

TEST_P(FaultConnectionTest, DriverRecoversAndShutsDownCleanly) {
  const FaultGroup& group = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenStreaming());

  for (const WireFault& fault : group.faults) {
    SCOPED_TRACE(fault.name);
    const std::uint64_t mark = Mark();
    const std::uint64_t frames = handlers[0].FrameCount();
    fault.inject(*simulator);
    if (group.reconnects) {
      ASSERT_TRUE(WaitReconnected(mark, kReconnectBound + 3s))
          << "no fresh log-on; connections accepted " << simulator->ConnectionsAccepted()
          << ", active " << simulator->ActiveConnections();
    } else {
      // The stream goes on over the same connection.
      EXPECT_TRUE(handlers[0].WaitForFrames(frames + 5, 10s)) << "stream stopped";
      EXPECT_EQ(simulator->CountRequests("user/logon"), 1u) << "connection was replaced";
      EXPECT_EQ(simulator->ConnectionsAccepted(), 1u);
    }
  }

  // One shared wait: the Gateway behaves again.
  ASSERT_NO_FATAL_FAILURE(ExpectStreamResumes());
  EXPECT_EQ(Status(0), 0);
  ASSERT_NO_FATAL_FAILURE(ExpectPtzReachesGateway());
  if (group.reconnects) {
    ASSERT_NO_FATAL_FAILURE(ExpectInputEventsOnlyAfterStartIO("in-2"));
  } else {
    ASSERT_NO_FATAL_FAILURE(ExpectInputEventDelivered("in-2", false));
  }
  CloseAndCheck();
}

// Regression: a reset that arrived right after the profile reply could be
// handled before the connect sequence marked the driver connected, which
// then stayed "connected" to a dead connection and never logged on again.
TEST_F(FaultFixture, ResetRightAfterTheProfileRequestStillEndsInAFreshLogOn) {
  ASSERT_NO_FATAL_FAILURE(OpenFaultDevice());
  std::uint64_t mark = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const auto profile = simulator->WaitForRequest("user/profile", nullptr, kReconnectBound, mark);
    ASSERT_TRUE(profile.has_value()) << "no fresh log-on";
    mark = profile->index + 1;
    simulator->ResetConnections();
  }
  EXPECT_TRUE(WaitReconnected(mark)) << "no fresh log-on after the last reset";
  CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(Groups, FaultConnectionTest, ::testing::ValuesIn(Groups()),
                         [](const ::testing::TestParamInfo<FaultGroup>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace integration
}  // namespace strevon
