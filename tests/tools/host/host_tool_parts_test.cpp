// The parts of strevon-host whose numbers a user trusts without a driver:
// the device file the other commands start from, the frame saver's bound,
// and the channel monitor's counting of frames, losses and rates.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "channel_monitor.h"
#include "device_description.h"
#include "frame_allocator.h"
#include "frame_saver.h"
#include "frame_stamp.h"
#include "support/temp_home.h"

namespace strevon {
namespace hosttool {
namespace {

using quorvel::test_support::TempHome;

TEST(DeviceFileTest, RoundTripKeepsWhatTheDriverIsOpenedWith) {
  DeviceDescription d;
  d.endpoint = {"127.0.0.1", 9000};
  d.password = "p\xC3\xA4sswort";
  d.capabilities = {{0, 2}, {2, 1}, {3, 1}, {7, 1}};
  d.resolutions = {{"640x480", 640, 480, 40}};
  const std::vector<std::string> names = {"Video Standard", "Kalmeno", "Channel 1", "Channel 2", "Input 0",
                                          "Output 0"};
  const std::vector<std::string> values = {"0", "3", "0;cam-1;0;Pan=0", "1;cam-2;1;Pan=1", "0;in-1", "0;out-1"};
  for (std::uint32_t i = 0; i < names.size(); ++i) d.parameters.push_back({i + 1, names[i], values[i], i > 1, 0});
  DeviceDescription back;
  std::string error;
  ASSERT_TRUE(DeviceDescription::FromJson(d.ToJson(), &back, &error)) << error;
  EXPECT_EQ(d.ToJson(), back.ToJson());
  const host::DeviceConfig config = back.ToDeviceConfig(1);
  EXPECT_EQ(2u, config.channelCount);
  EXPECT_EQ(9000, config.port);
  EXPECT_EQ("p\xC3\xA4sswort", config.password);
  EXPECT_EQ(values, config.customParameters);
  back.parameters.erase(back.parameters.begin() + 2);  // the driver reads up to the first gap
  EXPECT_EQ(2u, back.ToDeviceConfig(1).customParameters.size());
}

TEST(FrameSaverTest, DropsWhatIsOfferedBeyondItsBoundUntilFlushed) {
  const TempHome dir;
  FrameSaver saver(dir.Path() + "a/b", 2);
  std::string error;
  ASSERT_TRUE(saver.Prepare(&error)) << error;
  const unsigned char bytes[] = {0xFF, 0xD8, 1, 2};
  EXPECT_TRUE(saver.Offer("ch0", 10, bytes, sizeof(bytes), true));
  EXPECT_TRUE(saver.Offer("ch0", 20, bytes, sizeof(bytes), true));
  EXPECT_FALSE(saver.Offer("ch0", 30, bytes, sizeof(bytes), true));
  EXPECT_EQ(1u, saver.Dropped());
  ASSERT_TRUE(saver.Flush(&error)) << error;
  EXPECT_EQ(2u, saver.Written());
  EXPECT_EQ(4u, dir.Read("a/b/ch0-000020.jpg").size());
  EXPECT_TRUE(saver.Offer("ch0", 40, bytes, sizeof(bytes), true)) << "room again after a flush";
}

void Deliver(ChannelMonitor& monitor, host::FrameAllocator& allocator, std::uint64_t sequence) {
  quorvel::ipcapture::ICaptureFrame* frame = allocator.AllocateFrame(0x4745504A, 64, "Strevon");
  ASSERT_NE(frame, nullptr);
  sim::FrameStamp stamp;
  stamp.sequence = sequence;
  stamp.send_time_ns = sim::MonotonicNs();
  stamp.body_length = 64;
  stamp.kind = sim::kFrameKindNative;
  std::fill_n(frame->GetBuffer(), 64, 0);
  sim::WriteFrameStamp(stamp, frame->GetBuffer());
  frame->SetDataSize(64);
  frame->SetFourcc(0x4745504A);
  frame->FinishFrame();
  EXPECT_TRUE(monitor.Handler()->CaptureFrameCallback(frame));
  allocator.ReleaseFrame(frame);
}

TEST(ChannelMonitorTest, CountsLossesAndRestartsFromTheStampsRatesFromTheWindowSavesEveryNth) {
  const TempHome dir;
  FrameSaver saver(dir.Path());
  std::string error;
  ASSERT_TRUE(saver.Prepare(&error));
  host::FrameAllocator allocator;
  ChannelMonitor monitor("ch3", "cam-4", 0, &saver, 3);
  monitor.MarkStarted(true);
  const auto t0 = std::chrono::steady_clock::now();
  monitor.Poll(nullptr, t0);
  for (std::uint64_t seq : {0, 1, 2, 5, 6, 7, 8, 0, 1, 2}) Deliver(monitor, allocator, seq);
  monitor.Poll(nullptr, t0 + std::chrono::seconds(2));
  const ChannelStats s = monitor.Stats();
  EXPECT_EQ(10u, s.frames);
  EXPECT_EQ(2u, s.lostFrames);  // 3 and 4
  EXPECT_EQ(1u, s.reconnects);  // the sequence started over once
  EXPECT_DOUBLE_EQ(5.0, s.fps);
  EXPECT_DOUBLE_EQ(10 * 64 * 8 / 1000.0 / 2, s.kbps);
  ASSERT_TRUE(saver.Flush(&error)) << error;
  EXPECT_EQ(3u, saver.Written());  // the 3rd, 6th and 9th frame
  EXPECT_FALSE(dir.Read("ch3-000009.jpg").empty()) << "the fourcc says JPEG";
}

}  // namespace
}  // namespace hosttool
}  // namespace strevon
