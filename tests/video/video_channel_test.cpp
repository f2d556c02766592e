// The video channel on its own: the host calls of one frame in their order
// and on every failure path, the status texts, a channel without a camera,
// and a host that destroys the channel from inside its own callbacks.
#include "video/video_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "video/video_manager.h"
#include "video_test_support.h"

namespace quorvel {
namespace {

using video_test::Camera;
using video_test::FakeDriver;
using video_test::RecordingClient;
using video_test::StreamMessage;

using CallLog = std::vector<std::string>;

class RecordingFrame : public ipcapture::ICaptureFrame {
 public:
  explicit RecordingFrame(CallLog* log) : m_log(log) {}
  unsigned char* GetBuffer() override {
    m_log->push_back("GetBuffer");
    return withBuffer ? buffer.data() : nullptr;
  }
  void SetDataSize(std::uint32_t v) override { Add("SetDataSize", v); }
  void FinishFrame() override { m_log->push_back("FinishFrame"); }
  void SetFourcc(std::uint32_t v) override { Add("SetFourcc", v); }
  void SetHeight(std::uint32_t v) override { Add("SetHeight", v); }
  void SetWidth(std::uint32_t v) override { Add("SetWidth", v); }
  void SetSizeClass(std::uint32_t v) override { Add("SetSizeClass", v); }

  std::vector<unsigned char> buffer;
  bool withBuffer = true;

 private:
  void Add(const char* name, std::uint32_t v) { m_log->push_back(name + (" " + std::to_string(v))); }
  CallLog* m_log;
};

class RecordingAllocator : public ipcapture::IFrameAllocator {
 public:
  explicit RecordingAllocator(CallLog* log) : frame(log), m_log(log) {}
  ipcapture::ICaptureFrame* AllocateFrame(std::uint32_t fourcc, std::uint32_t size,
                                          const char* name) override {
    m_log->push_back("AllocateFrame " + std::to_string(fourcc) + " " + std::to_string(size) +
                     " " + name);
    if (fail) return nullptr;
    frame.buffer.assign(size, 0);
    return &frame;
  }
  void ReleaseFrame(ipcapture::ICaptureFrame* released) override {
    m_log->push_back(released == &frame ? "ReleaseFrame" : "ReleaseFrame(foreign)");
  }

  RecordingFrame frame;
  bool fail = false;

 private:
  CallLog* m_log;
};

class RecordingHandler : public ipcapture::IFrameHandler {
 public:
  explicit RecordingHandler(CallLog* log) : m_log(log) {}
  bool CaptureFrameCallback(ipcapture::ICaptureFrame*) override {
    m_log->push_back("CaptureFrameCallback");
    if (hook) hook();
    return accept;
  }
  void OnSignalLost() override {
    m_log->push_back("OnSignalLost");
    if (hook) hook();
  }

  bool accept = true;
  std::function<void()> hook;

 private:
  CallLog* m_log;
};

class VideoChannelTest : public ::testing::Test {
 protected:
  VideoChannelTest() : allocator(&calls), handler(&calls), manager(&client) {
    driver.allocator = &allocator;
    driver.client = &client;
    driver.cameras = {Camera("cam-1", false), Camera("cam-2", true)};
    manager.SetDriver(&driver);
  }

  std::unique_ptr<CVideoChannel> MakeChannel(std::uint32_t number, bool withHandler = true) {
    return std::make_unique<CVideoChannel>(number, &driver, withHandler ? &handler : nullptr,
                                           &manager);
  }

  static ServerMessage Frame(const std::string& body) {
    return StreamMessage({{"Cid", "1"}, {"Status", "OK"}, {"Fourcc", "875967048"},
                          {"Width", "1"}, {"Height", "1"}, {"Size", "704x288"}},
                         body);
  }

  // Public: the table-driven cases arrange them through a fixture reference.
 public:
  video_test::EmptyHome home;
  CallLog calls;
  FakeDriver driver;
  RecordingAllocator allocator;
  RecordingHandler handler;
  RecordingClient client;
  CVideoManager manager;
};

TEST_F(VideoChannelTest, OneFrameCallsTheHostInTheFixedOrder) {
  auto channel = MakeChannel(0);
  ServerMessage message = Frame("abcdef");
  channel->OnFrame(message);
  const CallLog expected = {"AllocateFrame 875967048 6 Strevon",
                            "GetBuffer",
                            "SetWidth 704",
                            "SetHeight 288",
                            "SetSizeClass 3",
                            "SetDataSize 6",
                            "SetFourcc 875967048",
                            "FinishFrame",
                            "CaptureFrameCallback",
                            "ReleaseFrame"};
  EXPECT_EQ(calls, expected);
  ASSERT_EQ(allocator.frame.buffer.size(), 6u);
  EXPECT_EQ(std::memcmp(allocator.frame.buffer.data(), "abcdef", 6), 0);
  EXPECT_EQ(driver.CountLines("First frame received"), 1u);
  calls.clear();
  channel->OnFrame(message);
  EXPECT_EQ(calls.size(), expected.size());
  EXPECT_EQ(driver.CountLines("CVideoChannel::OnFrame: Frame received"), 1u);
}

TEST_F(VideoChannelTest, EveryFailedStepDropsTheFrameAndReleasesWhatWasAllocated) {
  struct Case {
    const char* name;
    std::function<void(VideoChannelTest&)> arrange;
    std::string body;
    bool withHandler;
    CallLog expected;
    const char* logged;
  };
  const CallLog delivered = {"AllocateFrame 875967048 3 Strevon", "GetBuffer", "SetWidth 704",
                             "SetHeight 288", "SetSizeClass 3", "SetDataSize 3",
                             "SetFourcc 875967048", "FinishFrame"};
  CallLog withCallback = delivered;
  withCallback.push_back("CaptureFrameCallback");
  withCallback.push_back("ReleaseFrame");
  CallLog withoutHandler = delivered;
  withoutHandler.push_back("ReleaseFrame");
  const Case cases[] = {
      {"no allocator", [](VideoChannelTest& t) { t.driver.allocator = nullptr; }, "abc", true, {},
       "ERROR Frame allocator is NULL"},
      {"empty body", [](VideoChannelTest&) {}, "", true, {},
       "ERROR Get data from message FAILED"},
      {"allocation refused", [](VideoChannelTest& t) { t.allocator.fail = true; }, "abc", true,
       {"AllocateFrame 875967048 3 Strevon"}, "ERROR Frame allocation FAILED"},
      {"frame without buffer", [](VideoChannelTest& t) { t.allocator.frame.withBuffer = false; },
       "abc", true, {"AllocateFrame 875967048 3 Strevon", "GetBuffer", "ReleaseFrame"},
       "ERROR Frame buffer is NULL"},
      {"no frame handler", [](VideoChannelTest&) {}, "abc", false, withoutHandler,
       "ERROR mFrameHandler is NULL"},
      {"host refuses the frame", [](VideoChannelTest& t) { t.handler.accept = false; }, "abc",
       true, withCallback, "ERROR CaptureFrameCallback FAILED"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    calls.clear();
    driver.allocator = &allocator;
    allocator.fail = false;
    allocator.frame.withBuffer = true;
    handler.accept = true;
    c.arrange(*this);
    auto channel = MakeChannel(0, c.withHandler);
    ServerMessage message = Frame(c.body);
    const std::size_t before = driver.CountLines(c.logged);
    channel->OnFrame(message);
    EXPECT_EQ(calls, c.expected);
    EXPECT_EQ(driver.CountLines(c.logged), before + 1);
    // The next message is handled normally.
    if (c.withHandler && !c.body.empty()) {
      driver.allocator = &allocator;
      allocator.fail = false;
      allocator.frame.withBuffer = true;
      calls.clear();
      channel->OnFrame(message);
      EXPECT_EQ(calls.back(), "ReleaseFrame");
      EXPECT_EQ(std::count(calls.begin(), calls.end(), "CaptureFrameCallback"), 1);
    }
  }
}

TEST_F(VideoChannelTest, StatusTextsNameTheCameraOrTheServerChannel) {
  struct Case {
    std::uint32_t channelCount;
    std::uint32_t channel;
    const char* name;
  };
  const Case cases[] = {{1, 0, "Camera 10.0.0.5"}, {2, 1, "Server 10.0.0.5 (channel 1)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    driver.channelCount = c.channelCount;
    calls.clear();
    auto channel = MakeChannel(c.channel);
    const std::string name = c.name;
    const auto countInfo = [&](const std::string& text) {
      std::size_t n = 0;
      for (const auto& line : driver.Log()) {
        n += line.level == LOG_INFO && line.text.find(text) != std::string::npos ? 1 : 0;
      }
      return n;
    };
    const std::size_t newStatusBefore = driver.CountLines("New channel status is 0");
    channel->SetChannelStatus(0);
    channel->SetChannelStatus(0);
    EXPECT_EQ(driver.CountLines("New channel status is 0"), newStatusBefore + 2);
    EXPECT_EQ(countInfo("CVideoChannel::SetChannelStatus: " + name + " is online"), 1u);
    EXPECT_EQ(channel->GetChannelStatus(), 0);

    channel->SetChannelStatus(2);
    channel->SetChannelStatus(2);
    EXPECT_EQ(countInfo("CVideoChannel::SetChannelStatus: Signal was lost for " + name), 1u);
    EXPECT_EQ(calls, CallLog({"OnSignalLost"}));

    channel->SetChannelStatus(3);
    EXPECT_EQ(countInfo(name + " is offline. Channel was stopped"), 1u);
    channel->SetChannelStatus(1);  // never set by the driver: no text
    EXPECT_EQ(channel->GetChannelStatus(), 1);
    EXPECT_EQ(calls.size(), 1u);
  }
}

TEST_F(VideoChannelTest, ChannelWithoutCameraSubscribesNothingAndSaysSoOnce) {
  auto channel = MakeChannel(2);  // the list has two cameras
  channel->SetChannelStatus(0);
  EXPECT_TRUE(channel->Start(nullptr));
  EXPECT_TRUE(channel->ChangeChannelParameters(nullptr));
  EXPECT_EQ(manager.GetChannelCount(), 0u);
  channel->Stop();
  EXPECT_TRUE(client.Requests().empty());
  EXPECT_EQ(channel->GetChannelStatus(), 3);
  std::size_t errors = 0;
  for (const auto& line : driver.Log()) {
    if (line.text.find("ERROR") == std::string::npos) continue;
    ++errors;
    EXPECT_EQ(line.level, LOG_ERROR);
    EXPECT_NE(line.text.find("Channel 2 "), std::string::npos) << line.text;
  }
  EXPECT_EQ(errors, 1u);
}

// The host stops and destroys the channel from inside its frame callback,
// on the delivering thread: no deadlock, the frame is still released, and
// nothing touches the destroyed channel (the sanitizer builds check that).
TEST_F(VideoChannelTest, HostDestroysTheChannelInsideItsFrameCallback) {
  for (bool accept : {true, false}) {
    SCOPED_TRACE(accept ? "frame taken" : "frame refused");
    calls.clear();
    CVideoChannel* channel = MakeChannel(1).release();
    ASSERT_TRUE(channel->Start(nullptr));
    handler.accept = accept;
    handler.hook = [&] {
      handler.hook = nullptr;
      channel->Stop();
      delete channel;
    };
    ServerMessage message = Frame("abc");
    manager.ProcessServerMessage(message);
    EXPECT_EQ(calls.back(), "ReleaseFrame");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ReleaseFrame"), 1);
    EXPECT_EQ(manager.GetChannelCount(), 0u);
    calls.clear();
    manager.ProcessServerMessage(message);  // no longer registered
    EXPECT_TRUE(calls.empty());
  }
}

TEST_F(VideoChannelTest, HostDestroysTheChannelInsideOnSignalLost) {
  CVideoChannel* channel = MakeChannel(1).release();
  ASSERT_TRUE(channel->Start(nullptr));
  handler.hook = [&] {
    handler.hook = nullptr;
    channel->Stop();
    delete channel;
  };
  ServerMessage message = StreamMessage({{"Cid", "1"}, {"Status", "NoSignal"}});
  manager.ProcessServerMessage(message);
  EXPECT_EQ(calls, CallLog({"OnSignalLost"}));
  EXPECT_EQ(manager.GetChannelCount(), 0u);
}

}  // namespace
}  // namespace quorvel
