#include "video/video_channel.h"

#include <gtest/gtest.h>

#include <string>

#include "video_test_support.h"

namespace quorvel {
namespace {

class VideoChannelTest : public video_test::VideoTest {};

// A stream message without a body is dropped with a log line before a frame
// is allocated. The host's own failures (no allocator, no buffer, no
// handler, a refused frame) are met through the library by the host fault
// tests.
TEST_F(VideoChannelTest, EmptyBodyIsDroppedBeforeAFrameIsAllocated) {
  auto channel = MakeChannel(0);
  ServerMessage message = video_test::StreamMessage({{"Cid", "0"}, {"Status", "OK"}});
  channel->OnFrame(message);
  EXPECT_EQ(allocator.Allocated(), 0u);
  EXPECT_EQ(handler.FrameCount(), 0u);
  EXPECT_EQ(driver.CountLines("ERROR Get data from message FAILED"), 1u);
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
