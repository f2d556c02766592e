#include "gateway/gw_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "infra/device_info.h"
#include "infra/event.h"
#include "infra/platform/name_lookup.h"
#include "support/loopback_peer.h"
#include "support/wait.h"
#include "waitable_log.h"

namespace quorvel {
namespace {

using namespace test_support;
using Commands = std::vector<std::string>;
constexpr int kTimeoutMs = 4000;

// Counts live messages so that tests can see which ones the client destroyed.
class CountedMessage : public ClientMessage {
 public:
  explicit CountedMessage(const std::string& command) : ClientMessage(command) { ++s_live; }
  ~CountedMessage() override { --s_live; }
  static std::atomic<int> s_live;
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
    m_commands.Add(message.GetCommand());
  }
  Commands Get() const { return m_commands.Snapshot(); }
  bool WaitForCount(std::size_t n) { return m_commands.WaitForCount(n, std::chrono::milliseconds(kTimeoutMs)); }
  void OnConnectionLost() override { ++losses; }
  std::atomic<int> losses{0};

 private:
  CGWClient* m_client;
  IMessageReceiver* m_extra;
  strevon::host::WaitableLog<std::string> m_commands;
};

class GWClientTest : public ::testing::Test {
 protected:
  GWClientTest() { m_client.SetLog([this](int, const std::string& line) { m_lines.push_back(line); }); }
  void SetUp() override { CountedMessage::s_live = 0; }
  void ConnectClient() {
    ASSERT_TRUE(m_client.Connect(Loopback(m_listener.Port())));
    m_peer = m_listener.Accept(kTimeoutMs);
    ASSERT_TRUE(m_peer.IsOpen());
  }

  LoopbackListener m_listener;
  CGWClient m_client;
  LoopbackPeer m_peer;
  Commands m_lines;  // the client's log
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
}

// A receiver held in a host callback holds up nobody else, and past the
// stop time-out it keeps its thread and its socket: Connect refuses without touching the network until
// that thread has ended, so no second receiver ever reads beside it.
TEST_F(GWClientTest, ReceiverThatOverstaysItsStopIsNeverJoinedByASecondOne) {
  struct Blocker : IMessageReceiver {
    void ProcessServerMessage(ServerMessage&) override { entered.Set(); release.Wait(kTimeoutMs); }
    CManualEvent entered, release;
  } blocker;
  m_client.SetThreadStopTimeout(200);
  m_client.RegisterReceiver("user/logon", &blocker);
  ConnectClient();
  ASSERT_TRUE(m_peer.Write(ResponseFrame("user/logon")));
  ASSERT_TRUE(blocker.entered.Wait(kTimeoutMs));
  const auto start = std::chrono::steady_clock::now();
  // The held delivery holds no lock: other receivers come and go at once,
  // and dropping the held one does not wait for it.
  Blocker other;
  m_client.RegisterReceiver("user/logoff", &other);
  m_client.UnregisterReceiver(&other);
  m_client.DropReceiver(&blocker);
  m_client.RegisterReceiver("user/logon", &blocker);
  m_client.Disconnect();
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_FALSE(m_client.Connect(Loopback(m_listener.Port())));
  EXPECT_FALSE(m_listener.Accept(0).IsOpen()) << "the refused Connect touched the network";
  EXPECT_EQ((Commands{"quorvel::CGWClient::Disconnect: ERROR The Message Receiver thread did not end "
                      "within 200 ms; its socket is kept until it ends",
                      "quorvel::CGWClient::Connect: ERROR A thread of the previous connection still "
                      "runs; not connecting"}),
            m_lines);
  blocker.release.Set();
  ASSERT_TRUE(WaitUntil([&] { return !m_client.IsRunning(); }, kTimeoutMs));
  ConnectClient();
  blocker.entered.Reset();
  ASSERT_TRUE(m_peer.Write(ResponseFrame("user/logon")));
  EXPECT_TRUE(blocker.entered.Wait(kTimeoutMs));
  m_client.Disconnect();  // the blocker goes before the client
}

// A Gateway that stops reading fills the socket, then the queue up to its
// byte bound; later messages are refused with one log line. Once it reads
// again every frame arrives whole and in posting order and requests are
// taken again; Disconnect destroys what is still queued.
TEST_F(GWClientTest, QueueForAGatewayThatDoesNotReadIsBoundedAndKeepsItsOrder) {
  EXPECT_TRUE(m_client.Send(new CountedMessage("early")));
  ConnectClient();
  EXPECT_EQ(0, CountedMessage::s_live.load()) << "queued before the first Connect: never sent";
  const std::string filler(64 * 1024, 'x');
  int posted = 0;
  const auto sendBig = [&] {
    auto* message = new CountedMessage("camera/ptz/move");
    message->AddParam("n", posted);
    message->AddParam("p", filler);
    return m_client.Send(message) && ++posted < 2000;
  };
  while (sendBig()) {}
  const int held = CountedMessage::s_live.load();  // queued, and the one being written
  EXPECT_LE(held, static_cast<int>(CSenderAsync::kMaxQueuedBytes / filler.size()) + 1);
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(sendBig());
  EXPECT_EQ(held, CountedMessage::s_live.load());
  EXPECT_EQ((Commands{"quorvel::CGWClient::Send: ERROR Message queue full (1024 messages or 4194304 "
                      "bytes waiting); 1 message(s) dropped"}),
            m_lines);
  std::string text;
  for (int n = 0; m_peer.ReadRequest(text, kTimeoutMs) && text != "user/logoff"; ++n) {
    ASSERT_TRUE(text == "camera/ptz/move?n=" + std::to_string(n) + "&p=" + filler) << n;
    EXPECT_TRUE(n + 1 != posted || m_client.Send(new ClientMessage("user/logoff")));
  }
  EXPECT_EQ("user/logoff", text);
  while (sendBig()) {}
  const auto start = std::chrono::steady_clock::now();
  m_client.Disconnect();
  EXPECT_LT(ElapsedMs(start), 1000) << "a write blocked on the peer";
  EXPECT_EQ(0, CountedMessage::s_live.load());
  EXPECT_FALSE(m_client.Send(nullptr));
}

TEST_F(GWClientTest, FailedOrAbortedConnectLeavesEverythingStopped) {
  EXPECT_FALSE(m_client.Connect(Loopback(ClosedLoopbackPort(), 200)) || m_client.IsConnected());
  EXPECT_FALSE(m_client.Send(new CountedMessage("after failure")));
  EXPECT_EQ(0, CountedMessage::s_live.load());
  // A set abort event ends the attempt at its first slice, also while the
  // name lookup hangs; a hang costs one connectTimeout and says so.
  static std::atomic<bool> release{false};
  release = false;
  platform::SetResolverForTesting([](const std::string&, std::uint32_t&) {
    return !WaitUntil([] { return release.load(); }, kTimeoutMs);
  });
  DEVICE_INFO slow = Loopback(m_listener.Port(), 5000);
  slow.address = "slow.test";
  CManualEvent abort;
  m_client.SetConnectAbortEvent(&abort);
  abort.Set();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(m_client.Connect(slow));
  EXPECT_LT(ElapsedMs(start), 1000);
  abort.Reset();
  slow.connectTimeout = 200;
  EXPECT_FALSE(m_client.Connect(slow));
  release = true;
  platform::SetResolverForTesting(nullptr);
  EXPECT_EQ(Commands{"quorvel::CGWClient::Connect: ERROR Name lookup of 'slow.test' took longer "
                     "than 200 ms"},
            m_lines);
  ConnectClient();  // a cleared abort event lets the next attempt through
}

}  // namespace
}  // namespace quorvel
