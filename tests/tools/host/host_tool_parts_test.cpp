// The parts of strevon-host that need no driver: address and channel list
// parsing, the device file, tables, progress text, JPEG handling and the
// mosaic, the frame saver's bound, and the channel monitor's counting.
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "channel_monitor.h"
#include "device_description.h"
#include "endpoint.h"
#include "frame_allocator.h"
#include "frame_saver.h"
#include "frame_stamp.h"
#include "jpeg_codec.h"
#include "mosaic.h"
#include "progress_view.h"
#include "ptz_command.h"
#include "stream_command.h"
#include "text_table.h"

namespace strevon {
namespace hosttool {
namespace {

std::string TempDir() {
  char pattern[] = "/tmp/strevon-host-test-XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? dir : "";
}

RgbImage Solid(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
  RgbImage image;
  image.width = width;
  image.height = height;
  for (int i = 0; i < width * height; ++i) image.pixels.insert(image.pixels.end(), {r, g, b});
  return image;
}

std::vector<unsigned char> SolidJpeg(int width, int height, unsigned char r, unsigned char g,
                                     unsigned char b) {
  JpegCodec codec;
  std::vector<unsigned char> jpeg;
  std::string error;
  EXPECT_TRUE(codec.Encode(Solid(width, height, r, g, b), 90, &jpeg, &error)) << error;
  return jpeg;
}

TEST(EndpointTest, SplitsAddressAndPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* address;
    std::uint16_t port;
  } cases[] = {
      {"127.0.0.1", true, "127.0.0.1", 8080},    {"127.0.0.1:9000", true, "127.0.0.1", 9000},
      {"gw.example:1", true, "gw.example", 1},   {"host:65535", true, "host", 65535},
      {"host:0", false, "", 0},                  {"host:65536", false, "", 0},
      {"host:", false, "", 0},                   {":9000", false, "", 0},
      {"host:90x", false, "", 0},                {"a:1:2", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Endpoint endpoint;
    std::string error;
    EXPECT_EQ(ParseEndpoint(c.text, 8080, &endpoint, &error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(endpoint.address, c.address);
      EXPECT_EQ(endpoint.port, c.port);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(EndpointTest, ProbeTellsAClosedPortFromAnOpenOne) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  socklen_t len = sizeof(addr);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  const Endpoint open{"127.0.0.1", ntohs(addr.sin_port)};
  std::string error;
  EXPECT_TRUE(ProbeTcp(open, 2000, &error)) << error;
  ::close(listener);
  EXPECT_FALSE(ProbeTcp(open, 2000, &error));
  EXPECT_NE(error.find("refused"), std::string::npos) << error;
}

TEST(ChannelListTest, AllListsAndRanges) {
  std::vector<std::uint32_t> channels;
  std::string error;
  ASSERT_TRUE(ParseChannelList("all", 3, &channels, &error));
  EXPECT_EQ(channels, (std::vector<std::uint32_t>{0, 1, 2}));
  ASSERT_TRUE(ParseChannelList("2,0,2", 4, &channels, &error));
  EXPECT_EQ(channels, (std::vector<std::uint32_t>{2, 0}));
  EXPECT_FALSE(ParseChannelList("4", 4, &channels, &error));
  EXPECT_NE(error.find("channel 4 is out of range"), std::string::npos) << error;
  EXPECT_NE(error.find("0 to 3"), std::string::npos) << error;
  EXPECT_FALSE(ParseChannelList("1,x", 4, &channels, &error));
  EXPECT_FALSE(ParseChannelList("", 4, &channels, &error));
}

DeviceDescription SampleDevice() {
  DeviceDescription d;
  d.endpoint = {"127.0.0.1", 9000};
  d.userName = "operator";
  d.password = "p\xC3\xA4sswort";
  d.deviceName = "Gateway 127.0.0.1";
  d.capabilities = {{0, 2}, {2, 1}, {3, 1}, {7, 1}};
  d.resolutions = {{"640x480", 640, 480, 40}};
  d.frameIntervals = {40};
  d.defaultFrameInterval = 40;
  const char* values[][2] = {{"Device Video Standard", "0"},
                             {"Kalmeno Version", "3"},
                             {"Channel 1", "0;cam-1;0;Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0"},
                             {"Channel 2", "1;cam-2;1;Pan=1, Tilt=1, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=3"},
                             {"Input 0", "0;in-1"},
                             {"Output 0", "0;out-1"}};
  std::uint32_t index = 1;
  for (const auto& v : values) {
    host::CapabilityParameter p;
    p.index = index++;
    p.name = v[0];
    p.value = v[1];
    p.perObject = index > 3 ? 1 : 0;
    d.parameters.push_back(p);
  }
  return d;
}

TEST(DeviceDescriptionTest, JsonRoundTripKeepsEverythingTheDriverNeeds) {
  const DeviceDescription d = SampleDevice();
  DeviceDescription back;
  std::string error;
  ASSERT_TRUE(DeviceDescription::FromJson(d.ToJson(), &back, &error)) << error;
  EXPECT_EQ(back.ToJson(), d.ToJson());
  const host::DeviceConfig config = back.ToDeviceConfig(1);
  EXPECT_EQ(config.channelCount, 2u);
  EXPECT_EQ(config.inputCount, 1u);
  EXPECT_EQ(config.outputCount, 1u);
  EXPECT_EQ(config.port, 9000);
  EXPECT_EQ(config.password, "p\xC3\xA4sswort");
  EXPECT_EQ(config.connectionValue, 1u);
  ASSERT_EQ(config.customParameters.size(), 6u);
  EXPECT_EQ(config.customParameters[0], "0");
  EXPECT_EQ(config.customParameters[5], "0;out-1");
}

TEST(DeviceDescriptionTest, ChannelsAndIoPidsComeFromTheParameters) {
  const DeviceDescription d = SampleDevice();
  const std::vector<ChannelEntry> channels = d.Channels();
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels[1].channel, 1u);
  EXPECT_EQ(channels[1].pid, "cam-2");
  EXPECT_TRUE(channels[1].ptz);
  EXPECT_FALSE(channels[0].ptz);
  EXPECT_EQ(d.InputPid(0), "in-1");
  EXPECT_EQ(d.OutputPid(0), "out-1");
  EXPECT_EQ(d.OutputPid(1), "");
}

TEST(DeviceDescriptionTest, ParametersStopAtTheFirstGap) {
  DeviceDescription d = SampleDevice();
  d.parameters.erase(d.parameters.begin() + 2);  // index 3 missing
  EXPECT_EQ(d.ToDeviceConfig(1).customParameters.size(), 2u);
}

TEST(DeviceDescriptionTest, BadFilesAreRefusedWithTheReason) {
  DeviceDescription d;
  std::string error;
  EXPECT_FALSE(DeviceDescription::FromJson("{", &d, &error));
  EXPECT_NE(error.find("not a device file"), std::string::npos);
  EXPECT_FALSE(DeviceDescription::FromJson(R"({"address":"","port":0,"user":"","password":"",
      "capabilities":{},"parameters":[]})", &d, &error));
  EXPECT_FALSE(DeviceDescription::Load("/nonexistent/device.json", &d, &error));
  EXPECT_NE(error.find("query"), std::string::npos) << "the message says how to make one";
}

TEST(TextTableTest, AlignsColumnsAndNumbers) {
  TextTable table({"name", "n"}, {false, true});
  table.AddRow({"cam-1", "7"});
  table.AddRow({"k\xC3\xA4m", "1234"});
  EXPECT_EQ(table.Render(0), "name      n\ncam-1     7\nk\xC3\xA4m    1234\n");
}

TEST(ProgressViewTest, ShowsEveryChannelWithItsNumbers) {
  ChannelStats s;
  s.label = "ch1";
  s.pid = "cam-2";
  s.statusText = "online";
  s.frames = 42;
  s.fps = 10;
  s.kbps = 812.4;
  s.lastSize = 9265;
  s.width = 640;
  s.height = 480;
  s.reconnects = 1;
  const std::string text = ProgressView::Render(3.04, 15, {s});
  EXPECT_NE(text.find("streaming 3.0 s of 15 s"), std::string::npos) << text;
  EXPECT_NE(text.find("ch1      cam-2   online      42  10.0     812  9265 B 640x480           1"),
            std::string::npos)
      << text;
}

TEST(PtzWordsTest, ResultCodesAndDirections) {
  EXPECT_EQ(PtzResultText(1), "done");
  EXPECT_EQ(PtzResultText(-19), "not supported by this camera");
  EXPECT_EQ(PtzResultText(-23), "no such preset");
  EXPECT_EQ(PtzResultText(7), "result 7");
  EXPECT_EQ(PtzDirection("left"), 0);
  EXPECT_EQ(PtzDirection("downright"), 7);
  EXPECT_EQ(PtzDirection("zoomout"), 9);
  EXPECT_EQ(PtzDirection("sideways"), -1);
}

TEST(JpegTest, EncodeDecodeKeepsSizeAndColour) {
  const std::vector<unsigned char> jpeg = SolidJpeg(64, 48, 200, 30, 30);
  ASSERT_TRUE(LooksLikeJpeg(jpeg));
  JpegCodec codec;
  RgbImage image;
  std::string error;
  ASSERT_TRUE(codec.Decode(jpeg, &image, &error)) << error;
  EXPECT_EQ(image.width, 64);
  EXPECT_EQ(image.height, 48);
  EXPECT_NEAR(image.pixels[0], 200, 8);
  EXPECT_FALSE(codec.Decode({0xFF, 0xD8, 0x00}, &image, &error));
}

TEST(MosaicTest, LayoutIsAboutSquare) {
  struct Case {
    int count, columns, rows;
  } cases[] = {{1, 1, 1}, {2, 2, 1}, {3, 2, 2}, {4, 2, 2}, {5, 3, 2}, {9, 3, 3}, {10, 4, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(MosaicLayoutFor(c.count).columns, c.columns);
    EXPECT_EQ(MosaicLayoutFor(c.count).rows, c.rows);
  }
}

TEST(MosaicTest, ScalingAveragesAreas) {
  RgbImage image = Solid(4, 2, 0, 0, 0);
  for (int x = 0; x < 2; ++x) {
    for (int y = 0; y < 2; ++y) image.pixels[(y * 4 + x) * 3] = 200;
  }
  const RgbImage half = ScaleImage(image, 2, 1);
  EXPECT_EQ(half.pixels[0], 200);
  EXPECT_EQ(half.pixels[3], 0);
}

TEST(MosaicTest, TilesChannelsAndLeavesMissingOnesDark) {
  const std::vector<std::vector<unsigned char>> tiles = {SolidJpeg(160, 120, 250, 0, 0), {},
                                                         SolidJpeg(160, 120, 0, 0, 250)};
  std::vector<unsigned char> jpeg;
  std::string error;
  ASSERT_TRUE(Mosaic(80).Build(tiles, &jpeg, &error)) << error;
  JpegCodec codec;
  RgbImage image;
  ASSERT_TRUE(codec.Decode(jpeg, &image, &error)) << error;
  EXPECT_EQ(image.width, 2 * 80 + 3 * 2);
  EXPECT_EQ(image.height, 2 * 60 + 3 * 2);
  auto pixel = [&](int x, int y) { return &image.pixels[(y * image.width + x) * 3]; };
  EXPECT_GT(pixel(40, 30)[0], 200);       // tile 0: red
  EXPECT_LT(pixel(40 + 82, 30)[0], 60);   // tile 1: no picture
  EXPECT_GT(pixel(40, 30 + 62)[2], 200);  // tile 2: blue, second row
  EXPECT_FALSE(Mosaic(80).Build({{}, {}}, &jpeg, &error));
}

TEST(FrameSaverTest, QueueIsBoundedAndWritesNumberedFiles) {
  const std::string dir = TempDir() + "/a/b";
  FrameSaver saver(dir, 2);
  std::string error;
  ASSERT_TRUE(saver.Prepare(&error)) << error;
  const unsigned char bytes[] = {0xFF, 0xD8, 1, 2};
  EXPECT_TRUE(saver.Offer("ch0", 10, bytes, sizeof(bytes), true));
  EXPECT_TRUE(saver.Offer("ch0", 20, bytes, sizeof(bytes), true));
  EXPECT_FALSE(saver.Offer("ch0", 30, bytes, sizeof(bytes), true));
  EXPECT_EQ(saver.Dropped(), 1u);
  ASSERT_TRUE(saver.Flush(&error)) << error;
  EXPECT_EQ(saver.Written(), 2u);
  std::ifstream file(dir + "/ch0-000020.jpg", std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content.size(), sizeof(bytes));
  EXPECT_TRUE(saver.Offer("ch0", 40, bytes, sizeof(bytes), true)) << "room again after a flush";
  std::system(("rm -rf '" + dir.substr(0, dir.size() - 4) + "'").c_str());
}

// A video capture whose channel status the test sets.
class FakeVideo : public quorvel::ipcapture::IIPVideoCapture {
 public:
  std::uint32_t GetChannelCount() override { return 1; }
  bool StartChannel(std::uint32_t, quorvel::ipcapture::IFrameHandler*,
                    quorvel::ipcapture::IChannelSetup*) override { return true; }
  bool StopChannel(std::uint32_t) override { return true; }
  bool ChangeChannelParameters(std::uint32_t, quorvel::ipcapture::IChannelSize*, std::uint32_t) override {
    return false;
  }
  std::uint32_t Reserved5() override { return 0; }
  bool GetChannelStatus(std::uint32_t, int* s, int* detail, char*, std::uint32_t) override {
    *s = status;
    *detail = 0;
    return true;
  }
  bool Reserved7(std::uint32_t, std::uint32_t, std::uint32_t) override { return false; }
  bool Reserved8(std::uint32_t, std::uint32_t, std::uint32_t) override { return false; }
  int status = 2;
};

// Delivers one stamped frame through the monitor's handler, as the driver does.
void Deliver(ChannelMonitor& monitor, host::FrameAllocator& allocator, std::uint64_t sequence) {
  std::vector<unsigned char> body(64, 0);
  sim::FrameStamp stamp;
  stamp.sequence = sequence;
  stamp.send_time_ns = sim::MonotonicNs();
  stamp.body_length = static_cast<std::uint32_t>(body.size());
  stamp.kind = sim::kFrameKindNative;
  sim::WriteFrameStamp(stamp, body.data());
  quorvel::ipcapture::ICaptureFrame* frame =
      allocator.AllocateFrame(0x4745504A, static_cast<std::uint32_t>(body.size()), "Strevon");
  ASSERT_NE(frame, nullptr);
  std::copy(body.begin(), body.end(), frame->GetBuffer());
  frame->SetWidth(640);
  frame->SetHeight(480);
  frame->SetDataSize(static_cast<std::uint32_t>(body.size()));
  frame->SetFourcc(0x4745504A);
  frame->FinishFrame();
  EXPECT_TRUE(monitor.Handler()->CaptureFrameCallback(frame));
  allocator.ReleaseFrame(frame);
}

TEST(ChannelMonitorTest, CountsLostFramesAndRestartedStreams) {
  host::FrameAllocator allocator;
  ChannelMonitor monitor("ch0", "cam-1", 0, nullptr, 0);
  monitor.MarkStarted(true);
  for (std::uint64_t seq : {0, 1, 2, 5, 6, 0, 1}) Deliver(monitor, allocator, seq);
  const ChannelStats s = monitor.Stats();
  EXPECT_EQ(s.frames, 7u);
  EXPECT_EQ(s.lostFrames, 2u);  // 3 and 4
  EXPECT_EQ(s.reconnects, 1u);  // the sequence started over once
  EXPECT_EQ(s.stamped, 7u);
  EXPECT_GE(s.latencyMaxMs, 0.0);
  EXPECT_EQ(s.width, 640u);
  EXPECT_GE(s.firstFrameAfterS, 0.0);
}

TEST(ChannelMonitorTest, StatusRecoveryCountsAsReconnect) {
  FakeVideo video;
  ChannelMonitor monitor("ch0", "cam-1", 0, nullptr, 0);
  monitor.MarkStarted(true);
  auto t = std::chrono::steady_clock::now();
  for (int status : {2, 0, 0, 2, 2, 0, 2, 0}) {
    video.status = status;
    t += std::chrono::seconds(1);
    monitor.Poll(&video, t);
  }
  const ChannelStats s = monitor.Stats();
  EXPECT_EQ(s.reconnects, 2u);
  EXPECT_EQ(s.statusText, "online");
  monitor.MarkStarted(false);
  EXPECT_EQ(monitor.Stats().statusText, "stopped");
}

TEST(ChannelMonitorTest, RatesComeFromTheRecentWindowAndEveryNthFrameIsOffered) {
  const std::string dir = TempDir();
  FrameSaver saver(dir);
  std::string error;
  ASSERT_TRUE(saver.Prepare(&error));
  host::FrameAllocator allocator;
  FakeVideo video;
  video.status = 0;
  ChannelMonitor monitor("ch3", "cam-4", 0, &saver, 3);
  monitor.MarkStarted(true);
  const auto t0 = std::chrono::steady_clock::now();
  monitor.Poll(&video, t0);
  for (std::uint64_t i = 0; i < 10; ++i) Deliver(monitor, allocator, i);
  monitor.Poll(&video, t0 + std::chrono::seconds(2));
  const ChannelStats s = monitor.Stats();
  EXPECT_DOUBLE_EQ(s.fps, 5.0);
  EXPECT_DOUBLE_EQ(s.kbps, 10 * 64 * 8 / 1000.0 / 2);
  ASSERT_TRUE(saver.Flush(&error)) << error;
  EXPECT_EQ(saver.Written(), 3u);  // frames 3, 6, 9
  EXPECT_TRUE(std::ifstream(dir + "/ch3-000009.jpg").good()) << "the fourcc says JPEG";
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace hosttool
}  // namespace strevon
