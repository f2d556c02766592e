// Live video through the real library and the simulated Gateway.
#include <cstdlib>
#include <future>
#include <regex>
#include <thread>

#include "integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

using VideoTest = IntegrationFixture;

// The request form follows the Gateway's level, the frame kind the
// connection value; every byte arrives either way. The channel is started
// right after Open, before the log-on, and subscribed once connected.
TEST_F(VideoTest, EachRequestFormAndFrameKindArrivesByteExactOnAChannelStartedRightAfterOpen) {
  const struct {
    const char* name;
    bool level2;
    std::uint32_t connectionValue, fourcc, size;
    const char* subscribe;  // a pattern
    const char* unsubscribe;
  } cases[] = {
      {"level 3: every parameter", false, 1, kFourccJpeg, 32768,
       "video/realtime/subscribe\\?gid=1&cid=1&pid=cam-2&format=JPEG&type=FullRate&width=704&height=576&starttime=[0-9]+",
       "video/realtime/unsubscribe?gid=1&cid=1&pid=cam-2"},
      {"level 2: short form, Width and Height headers", true, 1, kFourccJpeg, 32768,
       "video/realtime/subscribe\\?gid=1&cid=cam-2%3A1&format=JPEG&width=704&height=576&starttime=[0-9]+",
       "video/realtime/unsubscribe?gid=1&cid=cam-2%3A1"},
      {"native frames", false, 0, kFourccH264, 16384, ".*&format=Native&.*",
       "video/realtime/unsubscribe?gid=1&cid=1&pid=cam-2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrameChecker checker(1, c.fourcc);
    DriverGuard guard{this};
    ASSERT_NO_FATAL_FAILURE(
        Open(TwoCameras(c.level2), "", false, [&](host::DeviceConfig& d) { d.connectionValue = c.connectionValue; }));
    checker.Attach(handlers[1]);
    const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    ASSERT_TRUE(Start(1));
    const auto request = WaitForChannelRequest("video/realtime/subscribe", 1);
    ASSERT_TRUE(request.has_value());
    EXPECT_TRUE(std::regex_match(request->raw_text, std::regex(c.subscribe))) << request->raw_text;
    const std::uint64_t since = std::stoull(request->Param("starttime")) - before.count();
    EXPECT_LE(since, 10000u) << "starttime " << request->Param("starttime");
    ASSERT_TRUE(handlers[1].WaitForFrames(handlers[1].FrameCount() + 10, 10s));
    EXPECT_EQ(checker.FirstProblem(), "");
    EXPECT_EQ(handlers[1].LastInfo().dataSize, c.size);
    EXPECT_EQ(Status(1), 0);
    EXPECT_TRUE(capture->StopChannel(1));
    const auto stop = WaitForChannelRequest("video/realtime/unsubscribe", 1);
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->raw_text, c.unsubscribe);
  }
}

TEST_F(VideoTest, StatusFollowsTheStreamAndTheDomeIsTakenOverOncePerStartOrParameterChange) {
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras()));
  EXPECT_EQ(Status(0), -1);
  ASSERT_NO_FATAL_FAILURE(StartChannels({0, 1}, 5));
  EXPECT_EQ(Status(0), 0);
  EXPECT_EQ(Status(1), 0);
  const auto takeovers = [&] { return simulator->CountRequests("camera/ptz/takeover"); };
  EXPECT_EQ(simulator->WaitForRequest("camera/ptz/takeover")->Param("pid"), "cam-2");
  EXPECT_EQ(takeovers(), 1u);

  const std::uint64_t mark = Mark();
  host::ChannelSize smaller(352, 288);
  EXPECT_TRUE(capture->ChangeChannelParameters(1, &smaller, 9));
  const auto stop = WaitForChannelRequest("video/realtime/unsubscribe", 1, mark);
  const auto start = WaitForChannelRequest("video/realtime/subscribe", 1, mark);
  ASSERT_TRUE(stop.has_value());
  ASSERT_TRUE(start.has_value());
  EXPECT_LT(stop->index, start->index);
  EXPECT_EQ(start->Param("width"), "352");
  EXPECT_EQ(start->Param("height"), "288");
  ASSERT_TRUE(WaitUntil([&] { return takeovers() == 2; }));
  ASSERT_TRUE(handlers[1].WaitForFrames(handlers[1].FrameCount() + 3, 10s));
  EXPECT_EQ(takeovers(), 2u);
  ASSERT_TRUE(Start(1));  // a fresh start takes the dome over again
  ASSERT_TRUE(WaitUntil([&] { return takeovers() == 3; }));

  // A status word other than "NoSignal" makes the channel offline, which the
  // host reads as 2 too, without a signal loss.
  simulator->SetStreamStatus(0, "CameraUnavailable");
  ASSERT_TRUE(WaitUntil([&] { return Status(0) == 2; }));
  EXPECT_EQ(handlers[0].SignalLostCount(), 0u);
  EXPECT_TRUE(capture->StopChannel(0));
  EXPECT_FALSE(capture->ChangeChannelParameters(0, &smaller, 9));  // nothing runs there
}

// The host stops a channel from inside its frame callback and, once it is
// started again, from its own thread while the callback runs: StopChannel
// waits for that callback (which then stops the channel too and finds it
// taken). After either stop the channel hears nothing more while channel 0
// streams on.
TEST_F(VideoTest, StopChannelFromInsideTheCallbackOrWhileItRunsSilencesTheChannel) {
  std::promise<bool> stoppedInside;
  std::promise<void> entered;
  std::atomic<bool> inside{false};
  std::atomic<std::uint64_t> mark{0};
  int calls = 0;  // receiver thread only
  DriverGuard guard{this};
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras()));
  ASSERT_TRUE(Start(0));
  handlers[1].SetHook([&](quorvel::ipcapture::ICaptureFrame*, const host::FrameInfo&) {
    if (++calls == 3) stoppedInside.set_value(capture->StopChannel(1));
    if (calls != 4) return true;
    // The first frame after the restart stays in the callback until
    // StopChannel has sent the unsubscribe, so that the callback certainly
    // runs when StopChannel gets to wait for it.
    inside = true;
    entered.set_value();
    simulator->WaitForRequest("video/realtime/unsubscribe", nullptr, 5s, mark);
    EXPECT_FALSE(capture->StopChannel(1));
    inside = false;
    return true;
  });
  mark = Mark();
  ASSERT_TRUE(Start(1));
  auto fromInside = stoppedInside.get_future();
  ASSERT_EQ(fromInside.wait_for(10s), std::future_status::ready) << "StopChannel did not return";
  EXPECT_TRUE(fromInside.get());
  ASSERT_TRUE(WaitForChannelRequest("video/realtime/unsubscribe", 1, mark).has_value());
  ASSERT_TRUE(handlers[0].WaitForFrames(handlers[0].FrameCount() + 10, 10s));
  EXPECT_EQ(handlers[1].FrameCount(), 3u) << "a frame after StopChannel";

  mark = Mark();
  ASSERT_TRUE(Start(1));
  ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(capture->StopChannel(1));
  EXPECT_FALSE(inside.load()) << "StopChannel returned while the callback ran";
  const std::uint64_t frames = handlers[1].FrameCount();
  ASSERT_TRUE(WaitForChannelRequest("video/realtime/unsubscribe", 1, mark).has_value());
  EXPECT_FALSE(capture->StopChannel(1));
  EXPECT_EQ(Status(1), -1);
  ASSERT_TRUE(handlers[0].WaitForFrames(handlers[0].FrameCount() + 10, 10s));
  EXPECT_EQ(handlers[1].FrameCount(), frames) << "a frame after StopChannel";
  EXPECT_TRUE(capture->StopChannel(0));
  CloseAndCheck();
}

// Start/stop on one index against parameter changes from a second host
// thread: a change never registers a channel again after its stop. So every
// subscription by a start (704 wide; a change asks for 352) comes first or
// after an unsubscription, and the last word on the channel is one.
TEST_F(VideoTest, ParameterChangeRacingStopNeverRegistersTheStoppedChannelAgain) {
  DriverGuard guard{this};
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras()));
  host::ChannelSize half(352, 288);
  std::atomic<bool> done{false};
  std::thread changer([&] {
    while (!done) capture->ChangeChannelParameters(0, &half, 7);
  });
  const auto end = std::chrono::steady_clock::now() + 1s;
  for (int i = 0; i < 300 && std::chrono::steady_clock::now() < end; ++i) {
    Start(0);
    capture->StopChannel(0);
  }
  done = true;
  changer.join();
  // One sender queue: channel 1's subscription comes after all of the above.
  const std::uint64_t mark = Mark();
  ASSERT_TRUE(Start(1));
  ASSERT_TRUE(WaitForChannelRequest("video/realtime/subscribe", 1, mark).has_value());
  std::string last;
  for (const sim::RequestRecord& r : simulator->Requests()) {
    if (r.Param("gid") != "0") continue;
    if (r.command == "video/realtime/subscribe" && r.Param("width") == "704") {
      EXPECT_NE(last, "video/realtime/subscribe") << "a channel stayed registered after its stop";
    }
    last = r.command;
  }
  EXPECT_EQ(last, "video/realtime/unsubscribe");
  CloseAndCheck();
}

// A full-rate stream without frames for the stall time is subscribed again
// by the next restart pass; a silent motion-only stream is left alone.
TEST_F(VideoTest, StalledFullRateStreamIsSubscribedAgainMotionOnlyIsLeftAlone) {
  const char* configured = std::getenv("STREVON_STALL_MS");
  const int stallMs = configured != nullptr ? std::atoi(configured) : 10000;
  const int passMs = stallMs * 2 / 5;
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras(), kMotionOnChannelOne));
  ASSERT_TRUE(Start(0));
  ASSERT_TRUE(Start(1));
  EXPECT_EQ(WaitForChannelRequest("video/realtime/subscribe", 0)->Param("type"), "FullRate");
  EXPECT_EQ(WaitForChannelRequest("video/realtime/subscribe", 1)->Param("type"), "MotionOnly");
  ASSERT_TRUE(handlers[0].WaitForFrames(3, 10s));
  ASSERT_TRUE(handlers[1].WaitForFrames(1, 10s));

  const std::uint64_t mark = Mark();
  simulator->SetStalled(0, true);
  simulator->SetStalled(1, true);
  const auto stalledAt = std::chrono::steady_clock::now();
  const auto stop = WaitForChannelRequest("video/realtime/unsubscribe", 0, mark);
  ASSERT_TRUE(stop.has_value());
  const long long elapsed = quorvel::test_support::ElapsedMs(stalledAt);
  EXPECT_GE(elapsed, stallMs - 200);          // counted from the last frame
  EXPECT_LE(elapsed, stallMs + passMs + 2000);  // by the next pass, with slack
  const auto start = WaitForChannelRequest("video/realtime/subscribe", 0, stop->index);
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(start->index, stop->index + 1);
  EXPECT_EQ(start->Param("pid"), "cam-1");
  EXPECT_EQ(Status(0), 2);

  simulator->SetStalled(0, false);
  ASSERT_TRUE(handlers[0].WaitForFrames(handlers[0].FrameCount() + 3, 10s));
  EXPECT_EQ(Status(0), 0);
  EXPECT_FALSE(WaitForChannelRequest("video/realtime/unsubscribe", 1, mark, 0ms));
  EXPECT_FALSE(WaitForChannelRequest("video/realtime/subscribe", 1, mark, 0ms));
  EXPECT_EQ(Status(1), 0);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
