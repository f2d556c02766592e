// Live video through the real library: the subscription on the wire in both
// request forms, frames delivered intact with what the host must know about
// them, the host's allocator contract on every failure path, the channel
// status the host reads, and the dome takeover.
#include <regex>

#include "video_fixture.h"

namespace strevon {
namespace integration {
namespace {

TEST_F(VideoFixture, SubscribesWithEveryParameterAndDeliversIntactFrames) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice(3, 1));
  const std::uint64_t before = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::system_clock::now().time_since_epoch())
          .count());
  for (std::uint32_t ch = 0; ch < 2; ++ch) {
    checkers[ch].Attach(handlers[ch]);
    ASSERT_TRUE(Start(ch, handlers[ch]));
  }
  for (std::uint32_t ch = 0; ch < 2; ++ch) {
    SCOPED_TRACE(ch);
    const auto request = WaitForChannelRequest("video/realtime/subscribe", ch, 5s);
    ASSERT_TRUE(request.has_value());
    const std::string pid = ch == 0 ? "cam-1" : "cam-2";
    const std::regex form("video/realtime/subscribe\\?gid=" + std::to_string(ch) + "&cid=" +
                          std::to_string(ch) + "&pid=" + pid +
                          "&format=JPEG&type=FullRate&width=704&height=576&starttime=([0-9]+)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(request->raw_text, match, form)) << request->raw_text;
    const std::uint64_t start = std::stoull(match[1]);
    EXPECT_GE(start, before);
    EXPECT_LE(start, before + 10000);

    ASSERT_TRUE(handlers[ch].WaitForFrames(15, 10s));
    EXPECT_EQ(checkers[ch].Bad(), 0u) << checkers[ch].FirstProblem();
    EXPECT_GE(checkers[ch].Good(), 15u);
    EXPECT_EQ(Status(ch), 0);
  }
  EXPECT_TRUE(capture->StopChannel(0));
  EXPECT_TRUE(capture->StopChannel(1));
  EXPECT_EQ(allocator.Outstanding(), 0u);
  EXPECT_EQ(allocator.Violations(), 0u);
}

TEST_F(VideoFixture, LevelTwoUsesTheShortFormAndTheWidthAndHeightHeaders) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice(2, 1));
  host::FrameHandler& handler = handlers[1];
  FrameChecker& checker = checkers[1];
  checker.Attach(handler);
  ASSERT_TRUE(Start(1, handler));
  const auto request = WaitForChannelRequest("video/realtime/subscribe", 1, 5s);
  ASSERT_TRUE(request.has_value());
  EXPECT_TRUE(std::regex_match(
      request->raw_text,
      std::regex("video/realtime/subscribe\\?gid=1&cid=cam-2%3A1&format=JPEG&width=704&"
                  "height=576&starttime=[0-9]+")))
      << request->raw_text;
  ASSERT_TRUE(handler.WaitForFrames(10, 10s));
  EXPECT_EQ(checker.Bad(), 0u) << checker.FirstProblem();
  EXPECT_GE(checker.Good(), 10u);
  EXPECT_TRUE(capture->StopChannel(1));
  const auto stop = WaitForChannelRequest("video/realtime/unsubscribe", 1, 5s);
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->raw_text, "video/realtime/unsubscribe?gid=1&cid=cam-2%3A1");
}

TEST_F(VideoFixture, NativeFramesKeepEveryByte) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice(3, 0));
  host::FrameHandler& handler = handlers[0];
  FrameChecker& checker = checkers[0];
  checker.ExpectFourcc(kFourccH264);
  checker.Attach(handler);
  ASSERT_TRUE(Start(0, handler));
  const auto request = WaitForChannelRequest("video/realtime/subscribe", 0, 5s);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->Param("format"), "Native");
  ASSERT_TRUE(handler.WaitForFrames(15, 10s));
  EXPECT_EQ(checker.Bad(), 0u) << checker.FirstProblem();
  EXPECT_GE(checker.Good(), 15u);
  EXPECT_EQ(handler.LastInfo().dataSize, 12000u);
}

// Every frame the allocator hands out comes back exactly once: when the
// frame has no buffer, when the host refuses it, and (nothing to give back)
// when the allocation itself fails.
TEST_F(VideoFixture, EveryAllocatedFrameIsReleasedOnceWhateverTheHostDoes) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice());
  host::FrameHandler& handler = handlers[0];
  ASSERT_TRUE(Start(0, handler));
  ASSERT_TRUE(handler.WaitForFrames(3, 10s));

  allocator.SetFramesWithoutBuffer(true);
  std::uint64_t mark = allocator.Allocated();
  ASSERT_TRUE(Eventually([&] { return allocator.Allocated() >= mark + 5; }, 10s));
  const std::uint64_t handled = handler.FrameCount();
  mark = allocator.Allocated();
  ASSERT_TRUE(Eventually([&] { return allocator.Allocated() >= mark + 3; }, 10s));
  EXPECT_LE(handler.FrameCount(), handled + 1);  // one may have been on its way

  allocator.SetFramesWithoutBuffer(false);
  allocator.SetFailAllocations(true);
  const std::uint64_t refused = allocator.Refused();
  ASSERT_TRUE(Eventually([&] { return allocator.Refused() >= refused + 5; }, 10s));

  allocator.SetFailAllocations(false);
  handler.SetAccept(false);
  const std::uint64_t offered = handler.FrameCount();
  ASSERT_TRUE(handler.WaitForFrames(offered + 5, 10s));
  // A refused frame does not make the channel offline.
  EXPECT_EQ(Status(0), 0);

  EXPECT_TRUE(capture->StopChannel(0));
  EXPECT_EQ(allocator.Outstanding(), 0u);
  EXPECT_EQ(allocator.Violations(), 0u);
}

TEST_F(VideoFixture, StatusFollowsTheStreamAndSignalLossReachesTheHost) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice());
  EXPECT_EQ(Status(0), -1);  // not running
  ASSERT_TRUE(Start(0, handlers[0]));
  ASSERT_TRUE(Start(1, handlers[1]));
  ASSERT_TRUE(handlers[0].WaitForFrames(1, 10s));
  ASSERT_TRUE(handlers[1].WaitForFrames(1, 10s));
  EXPECT_EQ(Status(0), 0);
  EXPECT_EQ(Status(1), 0);

  simulator->SetStreamStatus(1, "NoSignal");
  ASSERT_TRUE(handlers[1].WaitForSignalLost(1, 10s));
  EXPECT_EQ(Status(1), 2);
  // Any other status word makes the channel offline, which the host reads
  // as 2 too; it is no signal loss.
  simulator->SetStreamStatus(0, "CameraUnavailable");
  ASSERT_TRUE(Eventually([&] { return Status(0) == 2; }, 10s));
  EXPECT_EQ(handlers[0].SignalLostCount(), 0u);

  simulator->SetStreamStatus(1, "");
  const std::uint64_t frames = handlers[1].FrameCount();
  ASSERT_TRUE(handlers[1].WaitForFrames(frames + 1, 10s));
  EXPECT_EQ(Status(1), 0);
  EXPECT_EQ(handlers[1].SignalLostCount(), 1u);
}

TEST_F(VideoFixture, DomeIsTakenOverOncePerStartAndAfterAParameterChange) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice());
  ASSERT_TRUE(Start(0, handlers[0]));
  ASSERT_TRUE(Start(1, handlers[1]));
  ASSERT_TRUE(handlers[0].WaitForFrames(10, 10s));
  ASSERT_TRUE(handlers[1].WaitForFrames(10, 10s));
  const auto takeovers = [&](const std::string& pid) {
    std::size_t n = 0;
    for (const sim::RequestRecord& r : simulator->Requests()) {
      n += r.command == "camera/ptz/takeover" && r.Param("pid") == pid ? 1 : 0;
    }
    return n;
  };
  EXPECT_EQ(takeovers("cam-2"), 1u);
  EXPECT_EQ(simulator->CountRequests("camera/ptz/takeover"), 1u);

  const std::uint64_t mark = simulator->Requests().size();
  host::ChannelSize smaller(352, 288);
  EXPECT_TRUE(capture->ChangeChannelParameters(1, &smaller, 9));
  const auto stop = WaitForChannelRequest("video/realtime/unsubscribe", 1, 5s, mark);
  const auto start = WaitForChannelRequest("video/realtime/subscribe", 1, 5s, mark);
  ASSERT_TRUE(stop.has_value());
  ASSERT_TRUE(start.has_value());
  EXPECT_LT(stop->index, start->index);
  EXPECT_EQ(start->Param("width"), "352");
  EXPECT_EQ(start->Param("height"), "288");
  ASSERT_TRUE(Eventually([&] { return takeovers("cam-2") == 2; }, 10s));
  const std::uint64_t frames = handlers[1].FrameCount();
  ASSERT_TRUE(handlers[1].WaitForFrames(frames + 5, 10s));
  EXPECT_EQ(takeovers("cam-2"), 2u);

  // A fresh start of the channel takes the dome over again.
  ASSERT_TRUE(Start(1, handlers[1]));
  ASSERT_TRUE(Eventually([&] { return takeovers("cam-2") == 3; }, 10s));
  EXPECT_EQ(simulator->CountRequests("camera/ptz/takeover"), 3u);
  // Changing an index that runs nothing does nothing.
  EXPECT_TRUE(capture->StopChannel(0));
  EXPECT_FALSE(capture->ChangeChannelParameters(0, &smaller, 9));
}

}  // namespace
}  // namespace integration
}  // namespace strevon
