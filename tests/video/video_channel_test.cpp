#include "video/video_channel.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "video_test_support.h"

namespace quorvel {
namespace {

class VideoChannelTest : public video_test::VideoTest {};

// Whatever fails, every allocated frame goes back exactly once, the reason
// is logged, and the next frame is delivered whole and described.
TEST_F(VideoChannelTest, FailedStepsDropTheFrameAndReleaseWhatWasAllocated) {
  struct Case {
    const char* name;
    std::function<void(VideoChannelTest&, bool)> fault;  // set (true) or clear it
    std::string body;
    bool withHandler;
    std::uint64_t allocated, delivered;
    const char* logged;
  };
  const auto none = [](VideoChannelTest&, bool) {};
  const Case cases[] = {
      {"no allocator", [](VideoChannelTest& t, bool on) { t.driver.allocator = on ? nullptr : &t.allocator; },
       "abcdef", true, 0, 0, "ERROR Frame allocator is NULL"},
      {"empty body", none, "", true, 0, 0, "ERROR Get data from message FAILED"},
      {"allocation refused", [](VideoChannelTest& t, bool on) { t.allocator.SetFailAllocations(on); },
       "abcdef", true, 0, 0, "ERROR Frame allocation FAILED"},
      {"frame without buffer", [](VideoChannelTest& t, bool on) { t.allocator.SetFramesWithoutBuffer(on); },
       "abcdef", true, 1, 0, "ERROR Frame buffer is NULL"},
      {"no frame handler", none, "abcdef", false, 1, 0, "ERROR mFrameHandler is NULL"},
      {"host refuses the frame", [](VideoChannelTest& t, bool on) { t.handler.SetAccept(!on); },
       "abcdef", true, 1, 1, "ERROR CaptureFrameCallback FAILED"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint64_t allocated = allocator.Allocated();
    const std::uint64_t delivered = handler.FrameCount();
    const std::size_t logged = driver.CountLines(c.logged);
    auto channel = MakeChannel(0, c.withHandler);
    c.fault(*this, true);
    ServerMessage message = video_test::StreamMessage(
        {{"Cid", "0"}, {"Status", "OK"}, {"Fourcc", "875967048"}, {"Size", "704x288"}}, c.body);
    channel->OnFrame(message);
    EXPECT_EQ(allocator.Allocated() - allocated, c.allocated);
    EXPECT_EQ(handler.FrameCount() - delivered, c.delivered);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(driver.CountLines(c.logged), logged + 1);
    c.fault(*this, false);
    if (!c.withHandler || c.body.empty()) continue;
    channel->OnFrame(message);
    ASSERT_EQ(handler.FrameCount() - delivered, c.delivered + 1);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    const strevon::host::FrameInfo info = handler.LastInfo();
    EXPECT_EQ(std::make_tuple(info.fourcc, info.allocatedSize, info.dataSize, info.width,
                              info.height, info.sizeClass, info.finished),
              std::make_tuple(875967048u, 6u, 6u, 704u, 288u, 3u, true));
    EXPECT_EQ(handler.LastBytes(), std::vector<unsigned char>({'a', 'b', 'c', 'd', 'e', 'f'}));
  }
  EXPECT_EQ(allocator.Violations(), 0u);
}

// The host stops and destroys the channel from inside its callback, on the
// delivering thread: no deadlock, the frame is still released once, and
// nothing touches the destroyed channel (the sanitizer builds check that).
TEST_F(VideoChannelTest, HostDestroysTheChannelInsideItsCallback) {
  struct Case {
    const char* status;
    bool accept;
  };
  for (const Case& c : {Case{"OK", true}, Case{"OK", false}, Case{"NoSignal", true}}) {
    SCOPED_TRACE(std::string(c.status) + (c.accept ? " taken" : " refused"));
    CVideoChannel* channel = MakeChannel(1).release();
    ASSERT_TRUE(channel->Start(nullptr));
    const auto destroy = [&] {
      if (channel == nullptr) return;
      channel->Stop();
      delete channel;
      channel = nullptr;
    };
    handler.SetHook([&](ipcapture::ICaptureFrame*, const strevon::host::FrameInfo&) {
      destroy();
      return c.accept;
    });
    handler.onSignalLost = destroy;
    ServerMessage message = video_test::StreamMessage({{"Cid", "1"}, {"Status", c.status}}, "abc");
    manager.ProcessServerMessage(message);
    EXPECT_EQ(channel, nullptr);
    EXPECT_EQ(manager.GetChannelCount(), 0u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    const std::uint64_t frames = handler.FrameCount();
    manager.ProcessServerMessage(message);  // no longer registered
    EXPECT_EQ(handler.FrameCount(), frames);
    handler.SetHook(nullptr);
    handler.onSignalLost = nullptr;
  }
  EXPECT_EQ(allocator.Violations(), 0u);
}

// A one-channel device names the camera in its status lines, a larger one
// the server's channel; a status the driver never sets changes no text.
// A channel beyond the camera list subscribes nothing and says so once.
TEST_F(VideoChannelTest, StatusTextsNameTheCameraAndAChannelWithoutCameraSaysSoOnce) {
  driver.channelCount = 1;
  auto single = MakeChannel(0);
  single->SetChannelStatus(0);
  single->SetChannelStatus(2);
  single->SetChannelStatus(1);
  EXPECT_EQ(single->GetChannelStatus(), 1);
  EXPECT_EQ(driver.LevelOf("quorvel::CVideoChannel::SetChannelStatus: Camera 10.0.0.5 is online"),
            LOG_INFO);
  EXPECT_EQ(driver.CountLines("Signal was lost for Camera 10.0.0.5"), 1u);
  EXPECT_EQ(handler.SignalLostCount(), 1u);

  driver.channelCount.reset();
  auto lost = MakeChannel(2);  // the list has two cameras
  EXPECT_TRUE(lost->Start(nullptr));
  EXPECT_TRUE(lost->ChangeChannelParameters(nullptr));
  lost->Stop();
  EXPECT_EQ(manager.GetChannelCount(), 0u);
  EXPECT_TRUE(client.Requests().empty());
  EXPECT_EQ(driver.CountLines("ERROR Channel 2 has no camera"), 1u);
  EXPECT_EQ(driver.CountLines("ERROR"), 1u);
}

}  // namespace
}  // namespace quorvel
