#include "gateway/gw_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "infra/event.h"
#include "support/loopback_peer.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using namespace test_support;
using Commands = std::vector<std::string>;
constexpr int kTimeoutMs = 4000;

// Counts live messages so that tests can see which ones the client destroyed;
// given events, it stalls the sender thread in its destructor until released.
class CountedMessage : public ClientMessage {
 public:
  explicit CountedMessage(const std::string& command, CEvent* entered = nullptr,
                          CEvent* release = nullptr)
      : ClientMessage(command), m_entered(entered), m_release(release) { ++s_live; }
  ~CountedMessage() override {
    if (m_entered != nullptr) { m_entered->Set(); m_release->Wait(kTimeoutMs); }
    --s_live;
  }
  static std::atomic<int> s_live;
  CEvent* m_entered;
  CEvent* m_release;
};
std::atomic<int> CountedMessage::s_live{0};

// Records what it got and the losses it was told of; the one registered for
// "first" changes the map from inside its call, which must neither deadlock
// nor derail the walk.
class RecordingReceiver : public IMessageReceiver, public IConnectionUser {
 public:
  explicit RecordingReceiver(CGWClient* client = nullptr, IMessageReceiver* extra = nullptr)
      : m_client(client), m_extra(extra) {}
  void ProcessServerMessage(ServerMessage& message) override {
    if (m_client != nullptr && message.IsCommand("first")) {
      m_client->RegisterReceiver("second", m_extra);
      m_client->RegisterReceiver("first,second", this);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(message.GetCommand());
  }
  Commands Get() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
  }
  bool WaitForCount(std::size_t n) { return WaitUntil([&] { return Get().size() >= n; }, kTimeoutMs); }
  void OnConnectionLost() override { ++losses; }
  std::atomic<int> losses{0};

 private:
  CGWClient* m_client;
  IMessageReceiver* m_extra;
  std::mutex m_mutex;
  Commands m_commands;
};

class GWClientTest : public ::testing::Test {
 protected:
  void SetUp() override { CountedMessage::s_live = 0; }
  void ConnectClient() {
    ASSERT_TRUE(m_client.Connect(Loopback(m_listener.Port())));
    m_peer = m_listener.Accept(kTimeoutMs);
    ASSERT_TRUE(m_peer.IsOpen());
  }

  LoopbackListener m_listener;
  CGWClient m_client;
  LoopbackPeer m_peer;
};

// The receiver's text must contain the command, not the other way round; a
// server request is routed by its Request header.
TEST_F(GWClientTest, ReceiversGetMessagesWhoseCommandTheirTextContains) {
  RecordingReceiver profileAndPtz, events, bareEvent, video, replaced, dropped, extra;
  RecordingReceiver reentrant(&m_client, &extra);
  m_client.RegisterReceiver("user/profile,camera/ptz/properties", &profileAndPtz);
  m_client.RegisterReceiver("recorder/event/subscriberecorder/event/unsubscriberecorder/event;sync",
                            &events);
  m_client.RegisterReceiver("recorder/event,sync", &bareEvent);
  m_client.RegisterReceiver("video/stream,sync", &video);
  m_client.RegisterReceiver("user/profile", &replaced);
  m_client.RegisterReceiver("sync", &replaced);  // replaces its text
  m_client.RegisterReceiver("sync", &dropped);
  m_client.UnregisterReceiver(&dropped);
  m_client.UnregisterReceiver(&dropped);  // a second time is harmless
  m_client.RegisterReceiver("first", &reentrant);
  ConnectClient();

  std::vector<char> stream;
  for (const char* command : {"user/profile", "camera/ptz/properties", "recorder/event/subscribe",
                              "recorder/event", "ping", "first", "second"}) {
    Append(stream, ResponseFrame(command));
  }
  Append(stream, ServerFrame("Response: request/validation\r\nRequest: video/stream\r\n", "f"));
  Append(stream, ResponseFrame("sync"));
  ASSERT_TRUE(m_peer.Write(stream));
  ASSERT_TRUE(events.WaitForCount(3) && bareEvent.WaitForCount(2) && video.WaitForCount(2));
  ASSERT_TRUE(replaced.WaitForCount(1));
  EXPECT_EQ((Commands{"recorder/event/subscribe", "recorder/event", "sync"}), events.Get());
  EXPECT_EQ((Commands{"recorder/event", "sync"}), bareEvent.Get());
  EXPECT_EQ((Commands{"user/profile", "camera/ptz/properties"}), profileAndPtz.Get());
  EXPECT_EQ((Commands{"video/stream", "sync"}), video.Get());
  EXPECT_EQ(Commands{"sync"}, replaced.Get());
  EXPECT_EQ(Commands{}, dropped.Get());
  EXPECT_EQ(Commands{"second"}, extra.Get());
}

TEST_F(GWClientTest, MessagesGoOutInPostingOrderAndEveryUnsentOneIsDestroyed) {
  EXPECT_TRUE(m_client.Send(new CountedMessage("early")));
  ConnectClient();
  EXPECT_EQ(0, CountedMessage::s_live.load()) << "queued before the first Connect: never sent";
  CManualEvent entered, release;
  ASSERT_TRUE(m_client.Send(new ClientMessage("user/logon")));
  ASSERT_TRUE(m_client.Send(new CountedMessage("blocker", &entered, &release)));
  ASSERT_TRUE(entered.Wait(kTimeoutMs));  // written, the sender now stalls in destroying it
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(m_client.Send(new CountedMessage("queued")));
  EXPECT_EQ(11, CountedMessage::s_live.load());
  auto disconnect = std::async(std::launch::async, [this] { m_client.Disconnect(); });
  EXPECT_TRUE(WaitUntil([] { return CountedMessage::s_live.load() == 1; }, kTimeoutMs));
  release.Set();
  ASSERT_EQ(std::future_status::ready, disconnect.wait_for(std::chrono::seconds(4)));
  std::string first, second;
  ASSERT_TRUE(m_peer.ReadRequest(first, kTimeoutMs) && m_peer.ReadRequest(second, kTimeoutMs));
  EXPECT_EQ("user/logon blocker", first + " " + second);
  EXPECT_FALSE(m_peer.ReadRequest(first, 200)) << "nothing else was written";
  EXPECT_FALSE(m_client.Send(new CountedMessage("late")));
  EXPECT_EQ(0, CountedMessage::s_live.load()) << "a refused message is destroyed at once";
  EXPECT_FALSE(m_client.Send(nullptr));
}

// A loss is reported once per connection; an own Disconnect is none. Every
// teardown returns at once, however the receiver is placed.
TEST_F(GWClientTest, LossIsReportedOnceAndTeardownIsQuickInEveryState) {
  RecordingReceiver receiver;
  m_client.SetConnectionUser(&receiver);
  m_client.RegisterReceiver("user/logon", &receiver);
  ConnectClient();
  // A delivered message proves the receiver loop runs and now waits for the next marker.
  ASSERT_TRUE(m_peer.Write(ResponseFrame("user/logon")));
  ASSERT_TRUE(receiver.WaitForCount(1));
  auto start = std::chrono::steady_clock::now();
  m_client.Disconnect();
  EXPECT_LT(ElapsedMs(start), 1000) << "blocked receiver";
  EXPECT_TRUE(m_peer.WaitForClose(kTimeoutMs));
  EXPECT_EQ(0, receiver.losses.load());

  ConnectClient();
  m_peer.Reset();
  ASSERT_TRUE(WaitUntil([&] { return receiver.losses.load() == 1; }, kTimeoutMs));
  // Once the receiver thread has ended nothing can report the loss again.
  ASSERT_TRUE(WaitUntil([&] { return !m_client.IsRunning(); }, kTimeoutMs));
  EXPECT_EQ(1, receiver.losses.load());
  EXPECT_FALSE(m_client.IsConnected());
  EXPECT_TRUE(m_client.Send(new ClientMessage("user/logoff")));  // accepted, not written

  ConnectClient();  // starts both threads again
  ASSERT_TRUE(m_client.Send(new ClientMessage("user/logon")));
  std::string text;
  EXPECT_TRUE(m_peer.ReadRequest(text, kTimeoutMs));
  m_client.SetConnectionUser(nullptr);
  m_peer.Close();
  ASSERT_TRUE(WaitUntil([&] { return !m_client.IsConnected(); }, kTimeoutMs));
  start = std::chrono::steady_clock::now();
  m_client.Disconnect();
  EXPECT_LT(ElapsedMs(start), 1000) << "lost without a connection user";
  EXPECT_EQ(1, receiver.losses.load());

  auto client = std::make_unique<CGWClient>();
  ASSERT_TRUE(client->Connect(Loopback(m_listener.Port())));
  LoopbackPeer peer = m_listener.Accept(kTimeoutMs);
  for (int i = 0; i < 5; ++i) client->Send(new CountedMessage("pending"));
  start = std::chrono::steady_clock::now();
  client.reset();
  EXPECT_LT(ElapsedMs(start), 1000) << "destroyed while connected";
  EXPECT_EQ(0, CountedMessage::s_live.load());
}

TEST_F(GWClientTest, FailedOrAbortedConnectLeavesEverythingStopped) {
  EXPECT_FALSE(m_client.Connect(Loopback(ClosedLoopbackPort(), 200)) || m_client.IsConnected());
  EXPECT_FALSE(m_client.Send(new CountedMessage("after failure")));
  EXPECT_EQ(0, CountedMessage::s_live.load());
  // A set abort event ends the attempt at its first poll, whatever the budget.
  CManualEvent abort;
  m_client.SetConnectAbortEvent(&abort);
  abort.Set();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(m_client.Connect(Loopback(ClosedLoopbackPort(), 5000)));
  EXPECT_LT(ElapsedMs(start), 1000);
  abort.Reset();
  ConnectClient();  // a cleared abort event lets the next attempt through
}

}  // namespace
}  // namespace quorvel
