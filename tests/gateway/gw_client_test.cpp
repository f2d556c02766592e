#include "gateway/gw_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "infra/event.h"
#include "loopback_peer.h"

namespace quorvel {
namespace {

using testing_support::Append;
using testing_support::ClosedLoopbackPort;
using testing_support::LoopbackListener;
using testing_support::LoopbackPeer;
using testing_support::ResponseFrame;
using testing_support::ServerFrame;
using Clock = std::chrono::steady_clock;

constexpr int kPeerTimeoutMs = 4000;
constexpr auto kWait = std::chrono::seconds(4);

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Counts live messages so that tests can see which ones the client destroyed.
class CountedMessage : public ClientMessage {
 public:
  explicit CountedMessage(const std::string& command) : ClientMessage(command) { ++s_live; }
  ~CountedMessage() override { --s_live; }
  static std::atomic<int> s_live;
};
std::atomic<int> CountedMessage::s_live{0};

// Stalls the sender thread in its destructor until released.
class BlockingMessage : public CountedMessage {
 public:
  BlockingMessage(std::promise<void>* entered, std::shared_future<void> release)
      : CountedMessage("blocker"), m_entered(entered), m_release(std::move(release)) {}
  ~BlockingMessage() override {
    m_entered->set_value();
    m_release.wait_for(kWait);
  }

 private:
  std::promise<void>* m_entered;
  std::shared_future<void> m_release;
};

class RecordingReceiver : public IMessageReceiver {
 public:
  void ProcessServerMessage(ServerMessage& message) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(message.GetCommand());
    m_changed.notify_all();
  }

  bool WaitForCount(std::size_t count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, kWait, [&] { return m_commands.size() >= count; });
  }

  std::vector<std::string> Commands() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_commands;
};

class CountingUser : public IConnectionUser {
 public:
  void OnConnectionLost() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_losses;
    m_changed.notify_all();
  }

  bool WaitForLosses(int count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, kWait, [&] { return m_losses >= count; });
  }

  int Losses() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_losses;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_losses = 0;
};

class GWClientTest : public ::testing::Test {
 protected:
  void SetUp() override { CountedMessage::s_live = 0; }

  DEVICE_INFO Info() {
    DEVICE_INFO info;
    info.address = "127.0.0.1";
    info.port = m_listener.Port();
    info.connectTimeout = 2000;
    return info;
  }

  void ConnectClient() {
    ASSERT_TRUE(m_client.Connect(Info()));
    m_peer = m_listener.Accept(kPeerTimeoutMs);
    ASSERT_TRUE(m_peer.IsOpen());
  }

  LoopbackListener m_listener;
  CGWClient m_client;
  LoopbackPeer m_peer;
};

TEST_F(GWClientTest, ReceiversGetMessagesWhoseCommandTheirTextContains) {
  RecordingReceiver profileOnly;
  RecordingReceiver profileAndPtz;
  RecordingReceiver allEvents;
  RecordingReceiver bareEvent;
  m_client.RegisterReceiver("user/profile", &profileOnly);
  m_client.RegisterReceiver("user/profile,camera/ptz/properties", &profileAndPtz);
  // The event receiver's text: three names one after another.
  m_client.RegisterReceiver("recorder/event/subscriberecorder/event/unsubscriberecorder/event;sync",
                            &allEvents);
  // The text must contain the command, not the other way round: a bare
  // "recorder/event" text does not take the subscribe reply.
  m_client.RegisterReceiver("recorder/event,sync", &bareEvent);
  ConnectClient();

  std::vector<char> stream = ResponseFrame("user/profile", "<profile/>");
  Append(stream, ResponseFrame("camera/ptz/properties"));
  Append(stream, ResponseFrame("recorder/event/subscribe"));
  Append(stream, ResponseFrame("recorder/event"));
  Append(stream, ResponseFrame("ping"));  // nobody asked: dropped
  Append(stream, ResponseFrame("sync"));
  ASSERT_TRUE(m_peer.Write(stream));

  ASSERT_TRUE(allEvents.WaitForCount(3));
  ASSERT_TRUE(bareEvent.WaitForCount(2));
  EXPECT_EQ((std::vector<std::string>{"recorder/event/subscribe", "recorder/event", "sync"}),
            allEvents.Commands());
  EXPECT_EQ((std::vector<std::string>{"recorder/event", "sync"}), bareEvent.Commands());
  EXPECT_EQ(std::vector<std::string>{"user/profile"}, profileOnly.Commands());
  EXPECT_EQ((std::vector<std::string>{"user/profile", "camera/ptz/properties"}),
            profileAndPtz.Commands());
}

TEST_F(GWClientTest, ServerRequestIsRoutedByItsRequestHeader) {
  RecordingReceiver video;
  RecordingReceiver validation;
  m_client.RegisterReceiver("video/stream,sync", &video);
  m_client.RegisterReceiver("request/validation,sync", &validation);
  ConnectClient();

  std::vector<char> stream =
      ServerFrame("Response: request/validation\r\nRequest: video/stream\r\n", "frame");
  Append(stream, ResponseFrame("sync"));
  ASSERT_TRUE(m_peer.Write(stream));

  ASSERT_TRUE(video.WaitForCount(2));
  ASSERT_TRUE(validation.WaitForCount(1));
  EXPECT_EQ((std::vector<std::string>{"video/stream", "sync"}), video.Commands());
  EXPECT_EQ(std::vector<std::string>{"sync"}, validation.Commands());
}

TEST_F(GWClientTest, UnregisteredAndReplacedTextsStopMatching) {
  RecordingReceiver a;
  RecordingReceiver b;
  m_client.RegisterReceiver("user/logon", &a);
  m_client.RegisterReceiver("user/logon", &b);
  m_client.RegisterReceiver("sync", &b);  // replaces b's text
  m_client.UnregisterReceiver(&a);
  m_client.UnregisterReceiver(&a);  // a second time is harmless
  m_client.RegisterReceiver("sync", &a);
  ConnectClient();
  std::vector<char> stream = ResponseFrame("user/logon");
  Append(stream, ResponseFrame("sync"));
  ASSERT_TRUE(m_peer.Write(stream));
  ASSERT_TRUE(a.WaitForCount(1));
  ASSERT_TRUE(b.WaitForCount(1));
  EXPECT_EQ(std::vector<std::string>{"sync"}, a.Commands());
  EXPECT_EQ(std::vector<std::string>{"sync"}, b.Commands());
}

// A receiver may change the map from inside its call without deadlocking
// or derailing the walk.
class ReentrantReceiver : public IMessageReceiver {
 public:
  ReentrantReceiver(CGWClient* client, IMessageReceiver* extra) : m_client(client), m_extra(extra) {}
  void ProcessServerMessage(ServerMessage& message) override {
    if (!message.IsCommand("first")) return;
    m_client->RegisterReceiver("second", m_extra);
    m_client->RegisterReceiver("first,second", this);
  }

 private:
  CGWClient* m_client;
  IMessageReceiver* m_extra;
};

TEST_F(GWClientTest, ReceiverMayRegisterFromInsideItsCall) {
  RecordingReceiver extra;
  ReentrantReceiver reentrant(&m_client, &extra);
  m_client.RegisterReceiver("first", &reentrant);
  ConnectClient();
  std::vector<char> stream = ResponseFrame("first");
  Append(stream, ResponseFrame("second"));
  ASSERT_TRUE(m_peer.Write(stream));
  ASSERT_TRUE(extra.WaitForCount(1));
  EXPECT_EQ("second", extra.Commands().back());
}

TEST_F(GWClientTest, MessagesAreWrittenInPostingOrder) {
  ConnectClient();
  for (const char* command : {"user/authenticate", "user/logon", "user/profile"}) {
    EXPECT_TRUE(m_client.Send(new ClientMessage(command)));
  }
  for (const char* command : {"user/authenticate", "user/logon", "user/profile"}) {
    std::string text;
    ASSERT_TRUE(m_peer.ReadRequest(text, kPeerTimeoutMs));
    EXPECT_EQ(command, text);
  }
}

TEST_F(GWClientTest, SendBeforeFirstConnectIsAcceptedThenDestroyedUnsent) {
  EXPECT_TRUE(m_client.Send(new CountedMessage("early")));
  EXPECT_EQ(1, CountedMessage::s_live.load());
  ConnectClient();
  EXPECT_EQ(0, CountedMessage::s_live.load());
  ASSERT_TRUE(m_client.Send(new ClientMessage("probe")));
  std::string text;
  ASSERT_TRUE(m_peer.ReadRequest(text, kPeerTimeoutMs));
  EXPECT_EQ("probe", text);
}

TEST_F(GWClientTest, SendAfterDisconnectFailsAndDestroysTheMessage) {
  ConnectClient();
  m_client.Disconnect();
  EXPECT_FALSE(m_client.Send(new CountedMessage("late")));
  EXPECT_EQ(0, CountedMessage::s_live.load());
  EXPECT_FALSE(m_client.Send(nullptr));
}

TEST_F(GWClientTest, DisconnectDestroysQueuedMessagesUnsent) {
  ConnectClient();
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ASSERT_TRUE(m_client.Send(new BlockingMessage(&entered, released)));
  // The sender wrote the blocker and now stalls in destroying it.
  ASSERT_EQ(std::future_status::ready, entered.get_future().wait_for(kWait));
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(m_client.Send(new CountedMessage("queued")));
  EXPECT_EQ(11, CountedMessage::s_live.load());

  auto disconnect = std::async(std::launch::async, [this] { m_client.Disconnect(); });
  const auto deadline = Clock::now() + kWait;
  while (CountedMessage::s_live.load() > 1 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // polling a counter, deadline-bound
  }
  EXPECT_EQ(1, CountedMessage::s_live.load());
  release.set_value();
  ASSERT_EQ(std::future_status::ready, disconnect.wait_for(kWait));
  EXPECT_EQ(0, CountedMessage::s_live.load());

  std::string text;
  ASSERT_TRUE(m_peer.ReadRequest(text, kPeerTimeoutMs));
  EXPECT_EQ("blocker", text);
  EXPECT_FALSE(m_peer.ReadRequest(text, 200));  // nothing else was written
}

TEST_F(GWClientTest, ResetIsReportedOnceAndReconnectStartsBothThreads) {
  CountingUser user;
  RecordingReceiver receiver;
  m_client.SetConnectionUser(&user);
  m_client.RegisterReceiver("user/logon", &receiver);
  ConnectClient();

  m_peer.Reset();
  ASSERT_TRUE(user.WaitForLosses(1));
  // The receiver thread has ended; nothing may report the same loss again.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(1, user.Losses());
  EXPECT_FALSE(m_client.IsConnected());
  EXPECT_TRUE(m_client.Send(new ClientMessage("user/logoff")));  // lost: accepted, not written

  ConnectClient();
  ASSERT_TRUE(m_client.Send(new ClientMessage("user/logon")));
  std::string text;
  ASSERT_TRUE(m_peer.ReadRequest(text, kPeerTimeoutMs));
  EXPECT_EQ("user/logon", text);
  ASSERT_TRUE(m_peer.Write(ResponseFrame("user/logon")));
  ASSERT_TRUE(receiver.WaitForCount(1));

  m_peer.Reset();
  ASSERT_TRUE(user.WaitForLosses(2));
  EXPECT_EQ(2, user.Losses());
}

TEST_F(GWClientTest, OrderlyCloseByTheServerIsALoss) {
  CountingUser user;
  m_client.SetConnectionUser(&user);
  ConnectClient();
  m_peer.Close();
  ASSERT_TRUE(user.WaitForLosses(1));
  EXPECT_FALSE(m_client.IsConnected());
}

TEST_F(GWClientTest, DisconnectWhileReceiverIsBlockedReturnsQuicklyAndReportsNoLoss) {
  CountingUser user;
  RecordingReceiver receiver;
  m_client.SetConnectionUser(&user);
  m_client.RegisterReceiver("user/logon", &receiver);
  ConnectClient();
  // A delivered message proves the receiver loop runs; it then blocks in
  // the next marker search.
  ASSERT_TRUE(m_peer.Write(ResponseFrame("user/logon")));
  ASSERT_TRUE(receiver.WaitForCount(1));

  const auto start = Clock::now();
  m_client.Disconnect();
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_FALSE(m_client.IsConnected());
  EXPECT_TRUE(m_peer.WaitForClose(kPeerTimeoutMs));
  EXPECT_EQ(0, user.Losses());
}

TEST_F(GWClientTest, LostConnectionWithoutUserStillDisconnectsQuickly) {
  ConnectClient();
  m_peer.Reset();
  const auto deadline = Clock::now() + kWait;
  while (m_client.IsConnected() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // polling a flag, deadline-bound
  }
  ASSERT_FALSE(m_client.IsConnected());
  const auto start = Clock::now();
  m_client.Disconnect();
  EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST_F(GWClientTest, DestructionWhileConnectedIsQuick) {
  auto client = std::make_unique<CGWClient>();
  ASSERT_TRUE(client->Connect(Info()));
  LoopbackPeer peer = m_listener.Accept(kPeerTimeoutMs);
  ASSERT_TRUE(peer.IsOpen());
  for (int i = 0; i < 5; ++i) client->Send(new CountedMessage("pending"));
  const auto start = Clock::now();
  client.reset();
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_EQ(0, CountedMessage::s_live.load());
}

TEST_F(GWClientTest, FailedConnectLeavesEverythingStopped) {
  DEVICE_INFO info = Info();
  info.port = ClosedLoopbackPort();
  info.connectTimeout = 200;
  EXPECT_FALSE(m_client.Connect(info));
  EXPECT_FALSE(m_client.IsConnected());
  EXPECT_FALSE(m_client.Send(new CountedMessage("after failure")));
  EXPECT_EQ(0, CountedMessage::s_live.load());
}

TEST_F(GWClientTest, AbortEventEndsAConnectInProgress) {
  CManualEvent abort;
  m_client.SetConnectAbortEvent(&abort);
  DEVICE_INFO info = Info();
  info.port = ClosedLoopbackPort();
  info.connectTimeout = 5000;
  auto connect = std::async(std::launch::async, [this, &info] { return m_client.Connect(info); });
  // Not for ordering: the abort works whether or not the attempt has begun.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const auto start = Clock::now();
  abort.Set();
  ASSERT_EQ(std::future_status::ready, connect.wait_for(kWait));
  EXPECT_FALSE(connect.get());
  EXPECT_LT(MillisecondsSince(start), 1000);

  abort.Reset();
  ConnectClient();  // a cleared abort event lets the next attempt through
}

TEST_F(GWClientTest, ProtocolLevelTwoReadsMessagesWithoutMarker) {
  RecordingReceiver receiver;
  m_client.RegisterReceiver("user/logon", &receiver);
  m_client.SetProtocolLevel(2);
  ConnectClient();
  std::vector<char> stream = ServerFrame("Response: user/logon\r\n", "", false);
  Append(stream, ServerFrame("Response: user/logon\r\nStatus: OK\r\n", "x", false));
  ASSERT_TRUE(m_peer.Write(stream));
  ASSERT_TRUE(receiver.WaitForCount(2));
}

}  // namespace
}  // namespace quorvel
