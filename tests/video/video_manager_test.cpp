// The request forms of the usual protocol levels and the restart pass are
// covered end to end by the integration tests.
#include "video/video_manager.h"

#include <gtest/gtest.h>

#include <string>

#include "video_test_support.h"

namespace quorvel {
namespace {

class VideoManagerTest : public video_test::VideoTest {};

// By "Cid": "OK" sets online and hands over the frame, "NoSignal" sets
// signal lost (and tells the host), "Connecting" changes nothing, any other
// word is offline; a Cid that is no number is channel 0. The thread runs
// while a channel is registered: re-adding the only one asks for a second
// thread, which is refused.
TEST_F(VideoManagerTest, StreamMessagesReachTheChannelByCidWhileTheThreadRuns) {
  auto zero = MakeChannel(0);
  auto one = MakeChannel(1);
  ASSERT_TRUE(zero->Start(nullptr));
  ASSERT_TRUE(zero->Start(nullptr));
  EXPECT_EQ(driver.CountLines("(ch=0) Result is FAILED (thread should be started = yes)"), 1u);
  ASSERT_TRUE(one->Start(nullptr));
  struct Case {
    const char* cid;
    const char* status;  // null: no Status header
    int zero, one;       // statuses afterwards
    std::uint64_t frames, signalLost;
  };
  const Case cases[] = {
      {"1", "OK", 3, 0, 1, 0},         {"1", "NoSignal", 3, 2, 1, 1}, {"1", "Connecting", 3, 2, 1, 1},
      {"1", "ok", 3, 3, 1, 1},         {"1", "OK", 3, 0, 2, 1},       {"1", nullptr, 3, 3, 2, 1},
      {"ch1", "OK", 0, 3, 3, 1},       {"+1", "NoSignal", 0, 2, 3, 2}, {"7", "OK", 0, 2, 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cid) + " " + (c.status ? c.status : "(none)"));
    test_support::Headers headers = {{"Cid", c.cid}};
    if (c.status != nullptr) headers.push_back({"Status", c.status});
    ServerMessage message = video_test::StreamMessage(headers, "abc");
    manager.ProcessServerMessage(message);
    EXPECT_EQ(zero->GetChannelStatus(), c.zero);
    EXPECT_EQ(one->GetChannelStatus(), c.one);
    EXPECT_EQ(handler.FrameCount(), c.frames);
    EXPECT_EQ(handler.SignalLostCount(), c.signalLost);
  }
  EXPECT_EQ(driver.CountLines("SetChannelStatus: Server 10.0.0.5 (channel 1) is online"), 2u);
  // Replies to the requests are not stream messages.
  ServerMessage reply = test_support::MakeServerMessage(
      {{"Response", "video/realtime/subscribe"}, {"Cid", "1"}, {"Status", "Failed"}});
  manager.ProcessServerMessage(reply);
  EXPECT_EQ(one->GetChannelStatus(), 2);

  zero->Stop();
  EXPECT_TRUE(manager.IsRunning());
  one->Stop();
  EXPECT_FALSE(manager.IsRunning());
}

}  // namespace
}  // namespace quorvel
