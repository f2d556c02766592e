// The video manager against a client that keeps its requests: the two
// request forms, routing by "Status" and "Cid", the thread's lifecycle and
// the in-flight guard of RemoveChannel. The restart pass is exercised end to
// end by the integration tests.
#include "video/video_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <regex>
#include <string>
#include <thread>

#include "infra/time.h"
#include "video_test_support.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using ::testing::_;
using ::testing::AnyNumber;
using ::testing::Return;
using ::testing::StrictMock;
using video_test::Camera;
using video_test::FakeDriver;
using video_test::RecordingClient;
using video_test::StreamMessage;

class MockChannel : public ICameraChannel {
 public:
  MOCK_METHOD(void, SetChannelSetup, (ipcapture::IChannelSetup*), (override));
  MOCK_METHOD(bool, Start, (const ChannelParameters*), (override));
  MOCK_METHOD(void, Stop, (), (override));
  MOCK_METHOD(bool, ChangeChannelParameters, (const ChannelParameters*), (override));
  MOCK_METHOD(int, GetChannelStatus, (), (override));
  MOCK_METHOD(void, SetChannelStatus, (int), (override));
  MOCK_METHOD(int, GetRefreshStatus, (), (override));
  MOCK_METHOD(void, OnFrame, (ServerMessage&), (override));
};

ChannelStreamRecord Record(std::uint32_t channel, ICameraChannel* owner, const std::string& pid) {
  ChannelStreamRecord record;
  record.channel = channel;
  record.cameraChannel = owner;
  record.camera = Camera(pid, false);
  record.width = 704;
  record.height = 576;
  return record;
}

class VideoManagerTest : public ::testing::Test {
 protected:
  VideoManagerTest() : manager(&client) { manager.SetDriver(&driver); }

  // The restart pass may look at the channels while a test runs.
  void AllowRefresh(MockChannel& channel, int status = 0) {
    EXPECT_CALL(channel, GetRefreshStatus()).Times(AnyNumber()).WillRepeatedly(Return(status));
  }

  FakeDriver driver;
  RecordingClient client;
  CVideoManager manager;
};

TEST_F(VideoManagerTest, RequestsCarryEveryFieldInOrderInBothForms) {
  struct Case {
    int level;
    std::uint32_t native, streamType;
    const char* subscribe;    // up to "starttime="
    const char* unsubscribe;
  };
  const Case cases[] = {
      {4, 0, 1,
       "video/realtime/subscribe?gid=3&cid=3&pid=cam%2F7&format=JPEG&type=FullRate&width=704&height=576&starttime=",
       "video/realtime/unsubscribe?gid=3&cid=3&pid=cam%2F7"},
      {3, 1, 0,
       "video/realtime/subscribe?gid=3&cid=3&pid=cam%2F7&format=Native&type=MotionOnly&width=704&height=576&starttime=",
       "video/realtime/unsubscribe?gid=3&cid=3&pid=cam%2F7"},
      // The short form belongs to level 2 alone; level 1 keeps the long one.
      {1, 1, 1,
       "video/realtime/subscribe?gid=3&cid=3&pid=cam%2F7&format=Native&type=FullRate&width=704&height=576&starttime=",
       "video/realtime/unsubscribe?gid=3&cid=3&pid=cam%2F7"},
      {2, 1, 0, "video/realtime/subscribe?gid=3&cid=cam%2F7%3A3&format=JPEG&width=704&height=576&starttime=",
       "video/realtime/unsubscribe?gid=3&cid=cam%2F7%3A3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subscribe);
    client.Clear();
    client.SetProtocolLevel(c.level);
    ChannelStreamRecord record = Record(3, nullptr, "cam/7");
    record.native = c.native;
    record.streamType = c.streamType;
    record.blockValue1 = 11;
    record.blockValue2 = 12;
    const std::uint64_t before = GetUnixTimeMs();
    EXPECT_TRUE(manager.Send_StartChannel(record));
    const std::uint64_t after = GetUnixTimeMs();
    EXPECT_TRUE(manager.Send_StopChannel(record));
    const std::vector<std::string> requests = client.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string prefix = c.subscribe;
    ASSERT_EQ(requests[0].compare(0, prefix.size(), prefix), 0) << requests[0];
    const std::string start = requests[0].substr(prefix.size());
    ASSERT_TRUE(std::regex_match(start, std::regex("[0-9]+"))) << start;
    EXPECT_GE(std::stoull(start), before);
    EXPECT_LE(std::stoull(start), after);
    EXPECT_EQ(requests[1], c.unsubscribe);
  }
  EXPECT_EQ(driver.CountLines(
                "quorvel::CVideoManager::Send_StartChannel: (ch=3) Message "
                "'video/realtime/subscribe' was sent"),
            4u);
}

TEST_F(VideoManagerTest, StreamMessagesAreRoutedByStatusAndCid) {
  StrictMock<MockChannel> zero, one;
  AllowRefresh(zero);
  AllowRefresh(one);
  ASSERT_TRUE(manager.AddChannel(Record(0, &zero, "cam-1")));
  ASSERT_TRUE(manager.AddChannel(Record(1, &one, "cam-2")));

  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> headers;
    MockChannel* target;
    int status;  // -1: no status change
    bool frame;
  };
  const Case cases[] = {
      {"OK sets online, then the frame", {{"Cid", "1"}, {"Status", "OK"}}, &one, 0, true},
      {"NoSignal", {{"Cid", "1"}, {"Status", "NoSignal"}}, &one, 2, false},
      {"Connecting changes nothing", {{"Cid", "1"}, {"Status", "Connecting"}}, nullptr, -1, false},
      {"any other word is offline", {{"Cid", "1"}, {"Status", "CameraLost"}}, &one, 3, false},
      {"case matters", {{"Cid", "1"}, {"Status", "ok"}}, &one, 3, false},
      {"no status at all", {{"Cid", "1"}}, &one, 3, false},
      {"a Cid that is no number is channel 0", {{"Cid", "ch1"}, {"Status", "OK"}}, &zero, 0, true},
      {"a Cid may carry a plus sign", {{"Cid", "+1"}, {"Status", "NoSignal"}}, &one, 2, false},
      {"an unregistered cid is ignored", {{"Cid", "7"}, {"Status", "OK"}}, nullptr, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.target != nullptr && c.status >= 0) {
      ::testing::InSequence order;
      EXPECT_CALL(*c.target, SetChannelStatus(c.status));
      if (c.frame) EXPECT_CALL(*c.target, OnFrame(_));
    }
    ServerMessage message = StreamMessage(c.headers, "body");
    manager.ProcessServerMessage(message);
    ::testing::Mock::VerifyAndClearExpectations(&zero);
    ::testing::Mock::VerifyAndClearExpectations(&one);
    AllowRefresh(zero);
    AllowRefresh(one);
  }
  // Replies to the requests are not stream messages.
  std::string text = "Response: video/realtime/subscribe\r\nCid: 1\r\nStatus: Failed\r\n\r\n";
  ServerMessage reply;
  reply.SetHeaderData(std::vector<char>(text.begin(), text.end()));
  ASSERT_TRUE(reply.Parse());
  manager.ProcessServerMessage(reply);
  EXPECT_EQ(driver.CountLines("quorvel::CVideoManager::ProcessVideoStreamResponse: cid=0 status=OK"),
            1u);

  manager.RemoveChannel(Record(0, &zero, ""));
  manager.RemoveChannel(Record(1, &one, ""));
}

TEST_F(VideoManagerTest, ThreadRunsWhileAChannelIsRegistered) {
  MockChannel zero, one;
  AllowRefresh(zero);
  AllowRefresh(one);
  EXPECT_TRUE(manager.AddChannel(Record(0, &zero, "cam-1")));
  EXPECT_TRUE(manager.IsRunning());
  // Re-adding the only channel asks for a second thread: refused, reported,
  // and the subscription went out all the same.
  EXPECT_FALSE(manager.AddChannel(Record(0, &zero, "cam-1")));
  EXPECT_EQ(driver.CountLines("quorvel::CVideoManager::AddChannel: (ch=0) Result is FAILED "
                              "(thread should be started = yes)"),
            1u);
  EXPECT_EQ(client.Count("video/realtime/subscribe?gid=0"), 2u);

  EXPECT_TRUE(manager.AddChannel(Record(1, &one, "cam-2")));
  EXPECT_EQ(driver.CountLines("(ch=1) Result is OK (thread should be started = no)"), 1u);

  manager.RemoveChannel(Record(9, nullptr, ""));
  EXPECT_EQ(driver.CountLines("quorvel::CVideoManager::RemoveChannel: ERROR Channel 9 not found"),
            1u);
  EXPECT_EQ(client.Count("video/realtime/unsubscribe"), 0u);
  EXPECT_TRUE(manager.IsRunning());

  manager.RemoveChannel(Record(0, nullptr, ""));
  EXPECT_TRUE(manager.IsRunning());
  // The stored record is unsubscribed, whatever the caller's record holds.
  manager.RemoveChannel(Record(1, nullptr, "other"));
  EXPECT_EQ(client.Requests().back(), "video/realtime/unsubscribe?gid=1&cid=1&pid=cam-2");
  EXPECT_FALSE(manager.IsRunning());
  EXPECT_EQ(driver.CountLines("(ch=1) (thread should be stopped = yes)"), 1u);
  EXPECT_EQ(driver.CountLines("(thread should be stopped = no)"), 2u);
}

TEST_F(VideoManagerTest, RemoveWaitsForADeliveryRunningOnAnotherThread) {
  StrictMock<MockChannel> channel;
  AllowRefresh(channel);
  ASSERT_TRUE(manager.AddChannel(Record(1, &channel, "cam-2")));
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  EXPECT_CALL(channel, SetChannelStatus(0));
  EXPECT_CALL(channel, OnFrame(_)).WillOnce([&](ServerMessage&) {
    entered.set_value();
    released.wait();
  });
  std::thread receiver([&] {
    ServerMessage message = StreamMessage({{"Cid", "1"}, {"Status", "OK"}}, "x");
    manager.ProcessServerMessage(message);
  });
  ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);
  auto removed = std::async(std::launch::async, [&] { manager.RemoveChannel(Record(1, nullptr, "")); });
  // The unsubscription goes out at once; the return waits for the frame.
  EXPECT_TRUE(client.WaitFor("video/realtime/unsubscribe", 1, 5s));
  EXPECT_EQ(removed.wait_for(300ms), std::future_status::timeout);
  release.set_value();
  EXPECT_EQ(removed.wait_for(5s), std::future_status::ready);
  receiver.join();
  // Nothing reaches the channel any more.
  ServerMessage late = StreamMessage({{"Cid", "1"}, {"Status", "NoSignal"}});
  manager.ProcessServerMessage(late);
}

TEST_F(VideoManagerTest, RemoveFromInsideTheDeliveryDoesNotWaitForItself) {
  StrictMock<MockChannel> channel;
  AllowRefresh(channel);
  ASSERT_TRUE(manager.AddChannel(Record(1, &channel, "cam-2")));
  EXPECT_CALL(channel, SetChannelStatus(0));
  EXPECT_CALL(channel, OnFrame(_)).WillOnce([&](ServerMessage&) {
    manager.RemoveChannel(Record(1, nullptr, ""));
  });
  auto done = std::async(std::launch::async, [&] {
    ServerMessage message = StreamMessage({{"Cid", "1"}, {"Status", "OK"}}, "x");
    manager.ProcessServerMessage(message);
  });
  ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(manager.GetChannelCount(), 0u);
  EXPECT_FALSE(manager.IsRunning());
}

}  // namespace
}  // namespace quorvel
