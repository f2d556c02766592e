// Streams that stop: a stalled full-rate stream is subscribed again by the
// stall watchdog (10 s without a frame, then the next 4 s pass) while a
// motion-only stream is left alone; after a Gateway connection reset a
// full-rate stream comes back the same way and an online motion-only stream
// stays unsubscribed.
#include "video_fixture.h"

namespace strevon {
namespace integration {
namespace {

// Channel 0 full rate, channel 1 motion only. Each channel needs an element
// of its own: a channel without one takes the first element of the section.
// A section without a profile name would stop the profile request.
const char kMotionOnChannelOne[] =
    "<Configuration><Common><Profile>service</Profile>"
    "<VideoChannel id=\"0\"><StreamType>FullRate</StreamType></VideoChannel>"
    "<VideoChannel id=\"1\"><StreamType>motion</StreamType></VideoChannel>"
    "</Common></Configuration>";

class VideoRecoveryTest : public VideoFixture {
 protected:
  void StartBoth() {
    WriteSettings(kMotionOnChannelOne);
    ASSERT_NO_FATAL_FAILURE(OpenVideoDevice());
    ASSERT_TRUE(Start(0, handlers[0]));
    ASSERT_TRUE(Start(1, handlers[1]));
    const auto full = WaitForChannelRequest("video/realtime/subscribe", 0, 5s);
    const auto motion = WaitForChannelRequest("video/realtime/subscribe", 1, 5s);
    ASSERT_TRUE(full.has_value());
    ASSERT_TRUE(motion.has_value());
    EXPECT_EQ(full->Param("type"), "FullRate");
    EXPECT_EQ(motion->Param("type"), "MotionOnly");
    ASSERT_TRUE(handlers[0].WaitForFrames(5, 10s));
    ASSERT_TRUE(handlers[1].WaitForFrames(1, 10s));
  }
};

TEST_F(VideoRecoveryTest, StalledFullRateStreamIsSubscribedAgainMotionOnlyIsLeftAlone) {
  ASSERT_NO_FATAL_FAILURE(StartBoth());
  const std::uint64_t mark = simulator->Requests().size();
  simulator->SetStalled(0, true);
  simulator->SetStalled(1, true);
  const auto stalledAt = std::chrono::steady_clock::now();

  const auto stop = WaitForChannelRequest("video/realtime/unsubscribe", 0, 30s, mark);
  ASSERT_TRUE(stop.has_value());
  const auto elapsed = std::chrono::steady_clock::now() - stalledAt;
  RecordProperty("restart_after_ms",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
  EXPECT_GE(elapsed, 9s);   // the watchdog waits 10 s from the last frame
  EXPECT_LE(elapsed, 15s);  // and the next pass comes within 4 s
  const auto start = WaitForChannelRequest("video/realtime/subscribe", 0, 5s, stop->index);
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(start->index, stop->index + 1);
  EXPECT_EQ(start->Param("pid"), "cam-1");
  EXPECT_EQ(Status(0), 2);  // offline, as the host reads it

  // The restarted stream delivers again once the Gateway sends.
  simulator->SetStalled(0, false);
  const std::uint64_t frames = handlers[0].FrameCount();
  ASSERT_TRUE(handlers[0].WaitForFrames(frames + 3, 10s));
  EXPECT_EQ(Status(0), 0);

  EXPECT_EQ(CountChannelRequests("video/realtime/unsubscribe", 1, mark), 0u);
  EXPECT_EQ(CountChannelRequests("video/realtime/subscribe", 1, mark), 0u);
  EXPECT_EQ(Status(1), 0);
}

TEST_F(VideoRecoveryTest, FullRateStreamResumesAfterAConnectionReset) {
  ASSERT_NO_FATAL_FAILURE(StartBoth());
  const std::uint64_t mark = simulator->Requests().size();
  ASSERT_GE(simulator->ResetConnections(), 1u);
  const auto resetAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(simulator->WaitForRequest("user/profile", nullptr, 10s, mark).has_value());

  // Only the stall watchdog brings the stream back.
  const auto again = WaitForChannelRequest("video/realtime/subscribe", 0, 40s, mark);
  ASSERT_TRUE(again.has_value());
  const std::uint64_t frames = handlers[0].FrameCount();
  ASSERT_TRUE(handlers[0].WaitForFrames(frames + 3, 10s));
  const auto resumed = std::chrono::steady_clock::now() - resetAt;
  RecordProperty("resumed_after_ms",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(resumed).count()));
  EXPECT_LE(resumed, 20s);
  EXPECT_EQ(Status(0), 0);

  // The motion-only stream was online when the connection went, so nothing
  // restarts it: no subscription on the new connection, no more frames.
  EXPECT_EQ(CountChannelRequests("video/realtime/subscribe", 1, mark), 0u);
  const std::uint64_t motionFrames = handlers[1].FrameCount();
  const std::uint64_t more = handlers[0].FrameCount();
  ASSERT_TRUE(handlers[0].WaitForFrames(more + 10, 10s));
  EXPECT_EQ(handlers[1].FrameCount(), motionFrames);
  EXPECT_EQ(Status(1), 0);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
