#include "gateway/tcp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "loopback_peer.h"

namespace quorvel {
namespace {

using testing_support::ClosedLoopbackPort;
using testing_support::LoopbackListener;
using testing_support::LoopbackPeer;
using Clock = std::chrono::steady_clock;

constexpr int kPeerTimeoutMs = 4000;

DEVICE_INFO Loopback(std::uint16_t port, std::uint32_t connectTimeout = 2000) {
  DEVICE_INFO info;
  info.address = "127.0.0.1";
  info.port = port;
  info.connectTimeout = connectTimeout;
  return info;
}

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::vector<char> Text(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

// A connected client and the scripted server end of its socket.
struct Connection {
  LoopbackListener listener;
  TCPClient client;
  LoopbackPeer peer;

  bool Open() {
    if (!client.Connect(Loopback(listener.Port()))) return false;
    peer = listener.Accept(kPeerTimeoutMs);
    return peer.IsOpen();
  }
};

TEST(TCPClientTest, RefusedConnectionCostsTheFullConnectTimeout) {
  TCPClient client;
  const auto start = Clock::now();
  EXPECT_FALSE(client.Connect(Loopback(ClosedLoopbackPort(), 1000)));
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 900);
  EXPECT_LT(elapsed, 3000);
  EXPECT_FALSE(client.IsConnected());
}

TEST(TCPClientTest, TimeoutBelowOnePollNeverConnects) {
  LoopbackListener listener;
  TCPClient client;
  EXPECT_FALSE(client.Connect(Loopback(listener.Port(), 99)));
  EXPECT_FALSE(client.IsConnected());
}

TEST(TCPClientTest, ConnectsAfterTheFirstPoll) {
  LoopbackListener listener;
  TCPClient client;
  const auto start = Clock::now();
  ASSERT_TRUE(client.Connect(Loopback(listener.Port(), 100)));
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_TRUE(client.IsConnected());
  EXPECT_TRUE(listener.Accept(kPeerTimeoutMs).IsOpen());
}

TEST(TCPClientTest, UnusableAddressesFailAtOnce) {
  const char* addresses[] = {"0.0.0.0", "", "no-such-host.invalid"};
  for (const char* address : addresses) {
    SCOPED_TRACE(address);
    DEVICE_INFO info = Loopback(ClosedLoopbackPort(), 5000);
    info.address = address;
    TCPClient client;
    const auto start = Clock::now();
    EXPECT_FALSE(client.Connect(info));
    EXPECT_LT(MillisecondsSince(start), 2500);  // name service, not the poll budget
    EXPECT_FALSE(client.IsConnected());
  }
}

TEST(TCPClientTest, AbortedWaitEndsTheAttemptWithinOnePoll) {
  TCPClient client;
  std::atomic<int> waits{0};
  const auto start = Clock::now();
  EXPECT_FALSE(client.Connect(Loopback(ClosedLoopbackPort(), 5000), [&waits](std::uint32_t ms) {
    EXPECT_EQ(100u, ms);
    return ++waits >= 3;
  }));
  EXPECT_EQ(3, waits.load());
  EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST(TCPClientTest, SendWritesTheBytesInOneFrame) {
  Connection c;
  ASSERT_TRUE(c.Open());
  const std::vector<char> frame = {0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'};
  EXPECT_TRUE(c.client.Send(frame));
  std::string text;
  ASSERT_TRUE(c.peer.ReadRequest(text, kPeerTimeoutMs));
  EXPECT_EQ("abc", text);
}

TEST(TCPClientTest, ReceiveCollectsExactCountAcrossSegments) {
  Connection c;
  ASSERT_TRUE(c.Open());
  std::thread writer([&c] {
    c.peer.Write(Text("hel"));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    c.peer.Write(Text("lo world"));
  });
  std::vector<char> out;
  EXPECT_TRUE(c.client.Receive(out, 5));
  EXPECT_EQ(Text("hello"), out);
  EXPECT_TRUE(c.client.Receive(out, 6));
  EXPECT_EQ(Text(" world"), out);
  writer.join();
  EXPECT_TRUE(c.client.IsConnected());
}

TEST(TCPClientTest, ReceiveOnClosedTransport) {
  TCPClient client;
  std::vector<char> out = Text("stale");
  EXPECT_TRUE(client.Receive(out, 0));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(client.Receive(out, 1));
}

TEST(TCPClientTest, PeerResetWhileIdleClosesTheSocket) {
  Connection c;
  ASSERT_TRUE(c.Open());
  c.peer.Reset();
  std::vector<char> out;
  EXPECT_FALSE(c.client.Receive(out, 4));
  EXPECT_FALSE(c.client.IsConnected());
  EXPECT_FALSE(c.client.Send(Text("late")));
}

TEST(TCPClientTest, OrderlyCloseIsALossToo) {
  struct Case {
    const char* name;
    std::string sentBeforeClose;
  };
  const Case cases[] = {{"idle", ""}, {"inside a block", "ab"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Connection c;
    ASSERT_TRUE(c.Open());
    if (!k.sentBeforeClose.empty()) {
      ASSERT_TRUE(c.peer.Write(Text(k.sentBeforeClose)));
    }
    c.peer.Close();
    std::vector<char> out;
    EXPECT_FALSE(c.client.Receive(out, 4));
    EXPECT_EQ(Text(k.sentBeforeClose), out);
    EXPECT_FALSE(c.client.IsConnected());
    // No socket left to spin on: the next read fails at once.
    const auto start = Clock::now();
    EXPECT_FALSE(c.client.Receive(out, 4));
    EXPECT_LT(MillisecondsSince(start), 50);
  }
}

TEST(TCPClientTest, ReceiveTimeoutKeepsTheSocket) {
  Connection c;
  ASSERT_TRUE(c.Open());
  std::vector<char> out;
  const auto start = Clock::now();
  EXPECT_FALSE(c.client.Receive(out, 1));
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 4900);
  EXPECT_LT(elapsed, 10000);
  EXPECT_TRUE(c.client.IsConnected());
  ASSERT_TRUE(c.peer.Write(Text("z")));
  EXPECT_TRUE(c.client.Receive(out, 1));
}

TEST(TCPClientTest, StopCheckEndsABlockedReceiveAndKeepsTheSocket) {
  Connection c;
  ASSERT_TRUE(c.Open());
  std::atomic<bool> stop{false};
  auto reader = std::async(std::launch::async, [&] {
    std::vector<char> out;
    return c.client.Receive(out, 4, [&stop] { return stop.load(); });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it block; not for ordering
  const auto start = Clock::now();
  stop = true;
  ASSERT_EQ(std::future_status::ready, reader.wait_for(std::chrono::seconds(2)));
  EXPECT_FALSE(reader.get());
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_TRUE(c.client.IsConnected());
}

TEST(TCPClientTest, ShutdownWakesABlockedReceiveAtOnce) {
  Connection c;
  ASSERT_TRUE(c.Open());
  std::promise<void> entered;
  auto reader = std::async(std::launch::async, [&] {
    std::vector<char> out;
    entered.set_value();
    return c.client.Receive(out, 4);
  });
  entered.get_future().wait();
  const auto start = Clock::now();
  c.client.Shutdown();
  ASSERT_EQ(std::future_status::ready, reader.wait_for(std::chrono::seconds(2)));
  EXPECT_FALSE(reader.get());
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_FALSE(c.client.IsConnected());
  EXPECT_TRUE(c.peer.WaitForClose(kPeerTimeoutMs));
  c.client.Close();
}

TEST(TCPClientTest, ReconnectAfterLossUsesAFreshSocket) {
  Connection c;
  ASSERT_TRUE(c.Open());
  c.peer.Reset();
  std::vector<char> out;
  EXPECT_FALSE(c.client.Receive(out, 1));
  ASSERT_FALSE(c.client.IsConnected());
  ASSERT_TRUE(c.client.Connect(Loopback(c.listener.Port())));
  LoopbackPeer second = c.listener.Accept(kPeerTimeoutMs);
  ASSERT_TRUE(second.IsOpen());
  ASSERT_TRUE(second.Write(Text("ok")));
  EXPECT_TRUE(c.client.Receive(out, 2));
  EXPECT_EQ(Text("ok"), out);
}

}  // namespace
}  // namespace quorvel
