// The "Resilient" setting. Off (the default): after a Gateway reconnection
// input events stop reaching the host until it starts I/O again, and a
// motion-only stream that was online stays silent. On: input events go on
// without a new StartIO and the motion-only stream is subscribed again.
#include <string>

#include "fault_fixture.h"

namespace strevon {
namespace integration {
namespace {

std::string Settings(bool resilient) {
  return std::string("<Configuration><Common><Profile>service</Profile>") +
         (resilient ? "<Resilient>yes</Resilient>" : "") +
         "<VideoChannel><StreamType>motion</StreamType></VideoChannel>"
         "</Common></Configuration>";
}

class FaultResilienceTest : public FaultFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(FaultResilienceTest, InputEventsAndMotionOnlyStreamAfterAReconnection) {
  const bool resilient = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenFaultDevice(Settings(resilient)));
  ASSERT_TRUE(WaitConnected());
  checkers[1].Attach(handlers[1]);
  ASSERT_TRUE(Start(1, handlers[1]));
  const auto first = WaitForChannelRequest("video/realtime/subscribe", 1, 5s);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->Param("type"), "MotionOnly");
  ASSERT_TRUE(handlers[1].WaitForFrames(2, 10s));
  ASSERT_TRUE(io->SetIOCallback(&ioCallback));
  ASSERT_TRUE(io->StartIO());
  ASSERT_NO_FATAL_FAILURE(ExpectInputEventDelivered("in-1", false));

  const std::uint64_t mark = Mark();
  ASSERT_GE(simulator->ResetConnections(), 1u);
  ASSERT_TRUE(WaitReconnected(mark));

  if (resilient) {
    // No StartIO: the event gets through on the new connection.
    ASSERT_NO_FATAL_FAILURE(ExpectInputEventDelivered("in-2", false));
    const auto again = WaitForChannelRequest("video/realtime/subscribe", 1, 10s, mark);
    ASSERT_TRUE(again.has_value()) << "motion-only stream not subscribed again";
    EXPECT_EQ(again->Param("type"), "MotionOnly");
    const std::uint64_t frames = handlers[1].FrameCount();
    EXPECT_TRUE(handlers[1].WaitForFrames(frames + 2, 10s)) << "motion-only stream silent";
  } else {
    ASSERT_NO_FATAL_FAILURE(ExpectInputEventsOnlyAfterStartIO("in-2"));
    // The check above took several seconds, time enough for 4 frames a
    // second and for a manager pass: nothing came and nothing was asked for.
    const std::uint64_t frames = handlers[1].FrameCount();
    EXPECT_FALSE(handlers[1].WaitForFrames(frames + 1, 3s)) << "motion-only stream came back";
    EXPECT_EQ(CountChannelRequests("video/realtime/subscribe", 1, mark), 0u);
  }
  EXPECT_EQ(checkers[1].Bad(), 0u) << checkers[1].FirstProblem();
  CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(Setting, FaultResilienceTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "ResilientOn" : "ResilientOff");
                         });

}  // namespace
}  // namespace integration
}  // namespace strevon
