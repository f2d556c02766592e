// Stopping video through the real library: StopChannel unsubscribes, waits
// for a frame callback that is running, and silences the channel; a host may
// stop the channel from inside its own frame callback; after Close no frame
// handler is called.
#include <future>

#include "video_fixture.h"

namespace strevon {
namespace integration {
namespace {

// Counts the handler's calls that come after `after` was set.
struct LateCallWatch {
  std::atomic<bool> after{false};
  std::atomic<int> late{0};
  void Seen() {
    if (after.load()) ++late;
  }
};

TEST_F(VideoFixture, StopChannelWaitsForTheRunningCallbackAndSilencesTheChannel) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice());
  ASSERT_TRUE(Start(0, handlers[0]));
  LateCallWatch watch;
  std::atomic<bool> inside{false};
  std::promise<void> entered;
  std::atomic<bool> signalled{false};
  DriverGuard guard(this);
  handlers[1].SetHook([&](quorvel::ipcapture::ICaptureFrame*, const host::FrameInfo&) {
    watch.Seen();
    inside = true;
    if (!signalled.exchange(true)) entered.set_value();
    // Keeps the delivery running while the host thread stops the channel.
    std::this_thread::sleep_for(100ms);
    inside = false;
    return true;
  });
  ASSERT_TRUE(Start(1, handlers[1]));
  ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);

  const std::uint64_t mark = simulator->Requests().size();
  EXPECT_TRUE(capture->StopChannel(1));
  EXPECT_FALSE(inside.load()) << "StopChannel returned while the callback ran";
  watch.after = true;
  const std::uint64_t frames = handlers[1].FrameCount();
  const std::uint64_t lost = handlers[1].SignalLostCount();

  const auto stop = WaitForChannelRequest("video/realtime/unsubscribe", 1, 5s, mark);
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->raw_text, "video/realtime/unsubscribe?gid=1&cid=1&pid=cam-2");
  EXPECT_FALSE(capture->StopChannel(1));
  EXPECT_EQ(Status(1), -1);
  // Channel 0 streams on; channel 1 hears nothing more.
  const std::uint64_t other = handlers[0].FrameCount();
  ASSERT_TRUE(handlers[0].WaitForFrames(other + 10, 10s));
  EXPECT_EQ(handlers[1].FrameCount(), frames);
  EXPECT_EQ(handlers[1].SignalLostCount(), lost);
  EXPECT_EQ(watch.late.load(), 0);
  EXPECT_TRUE(capture->StopChannel(0));
  EXPECT_EQ(allocator.Outstanding(), 0u);
  EXPECT_EQ(allocator.Violations(), 0u);
}

TEST_F(VideoFixture, HostStopsTheChannelFromInsideItsFrameCallback) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice());
  ASSERT_TRUE(Start(0, handlers[0]));
  LateCallWatch watch;
  std::promise<bool> stopped;
  int calls = 0;  // receiver thread only
  DriverGuard guard(this);
  handlers[1].SetHook([&](quorvel::ipcapture::ICaptureFrame*, const host::FrameInfo&) {
    watch.Seen();
    if (++calls == 3) {
      stopped.set_value(capture->StopChannel(1));
      watch.after = true;
    }
    return true;
  });
  const std::uint64_t mark = simulator->Requests().size();
  ASSERT_TRUE(Start(1, handlers[1]));
  auto result = stopped.get_future();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready) << "StopChannel did not return";
  EXPECT_TRUE(result.get());
  ASSERT_TRUE(WaitForChannelRequest("video/realtime/unsubscribe", 1, 5s, mark).has_value());
  const std::uint64_t other = handlers[0].FrameCount();
  ASSERT_TRUE(handlers[0].WaitForFrames(other + 10, 10s));
  EXPECT_EQ(handlers[1].FrameCount(), 3u);
  EXPECT_EQ(watch.late.load(), 0);
  // The channel can be started again.
  ASSERT_TRUE(Start(1, handlers[1]));
  ASSERT_TRUE(handlers[1].WaitForFrames(5, 10s));
  EXPECT_TRUE(capture->StopChannel(1));
  EXPECT_TRUE(capture->StopChannel(0));
  EXPECT_EQ(allocator.Outstanding(), 0u);
  EXPECT_EQ(allocator.Violations(), 0u);
}

TEST_F(VideoFixture, NoFrameHandlerCallAfterClose) {
  ASSERT_NO_FATAL_FAILURE(OpenVideoDevice());
  LateCallWatch watch;
  DriverGuard guard(this);
  for (auto& handler : handlers) {
    handler.SetHook([&](quorvel::ipcapture::ICaptureFrame*, const host::FrameInfo&) {
      watch.Seen();
      return true;
    });
  }
  ASSERT_TRUE(Start(0, handlers[0]));
  ASSERT_TRUE(Start(1, handlers[1]));
  ASSERT_TRUE(handlers[0].WaitForFrames(5, 10s));
  ASSERT_TRUE(handlers[1].WaitForFrames(5, 10s));
  const std::uint64_t mark = simulator->Requests().size();
  driver->Close();
  watch.after = true;
  EXPECT_EQ(driver->GetVideoCapture(), nullptr);
  // Close stops every channel, so both streams are unsubscribed.
  EXPECT_TRUE(WaitForChannelRequest("video/realtime/unsubscribe", 0, 5s, mark).has_value());
  EXPECT_TRUE(WaitForChannelRequest("video/realtime/unsubscribe", 1, 5s, mark).has_value());
  // Frames still on their way are dropped by the driver.
  const std::uint64_t frames = handlers[0].FrameCount() + handlers[1].FrameCount();
  EXPECT_FALSE(handlers[0].WaitForFrames(handlers[0].FrameCount() + 1, 500ms));
  DestroyDriver();
  EXPECT_EQ(handlers[0].FrameCount() + handlers[1].FrameCount(), frames);
  EXPECT_EQ(watch.late.load(), 0);
  EXPECT_EQ(allocator.Outstanding(), 0u);
  EXPECT_EQ(allocator.Violations(), 0u);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
