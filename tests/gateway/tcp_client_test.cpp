#include "gateway/tcp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "infra/device_info.h"
#include "infra/platform/name_lookup.h"
#include "support/loopback_peer.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using namespace test_support;
using Clock = std::chrono::steady_clock;
constexpr int kTimeoutMs = 4000;
using F = TCPClient::Failure;

// Stands in for the system resolver: counts lookups, hangs on one name.
std::atomic<int> g_lookups{0};
std::atomic<bool> g_releaseHang{false};
bool HangingResolver(const std::string& host, std::uint32_t& address) {
  ++g_lookups;
  if (host != "hangs.test") return platform::ResolveIPv4(host, address);
  return !WaitUntil([] { return g_releaseHang.load(); }, 20000);
}

using Wait = TCPClient::ReadWait;

struct Connection {
  explicit Connection(Wait wait = Wait::kSliced) : client(wait) {
    EXPECT_TRUE(client.Connect(Loopback(listener.Port())));
    peer = listener.Accept(kTimeoutMs);
    EXPECT_TRUE(peer.IsOpen());
  }
  LoopbackListener listener;
  TCPClient client;
  LoopbackPeer peer;
};

TEST(TCPClientTest, ConnectOutcomesAndWhatTheyCost) {
  struct Case { const char* name; const char* address; bool listening; std::uint32_t timeoutMs;
                int abortAtWait;  // 0: the plain sleep between polls
                F failure; long long minMs, maxMs; };
  const Case cases[] = {
      // Refused is not told apart from slow: the whole budget is spent.
      {"refused costs the full time-out", "127.0.0.1", false, 300, 0, F::kNoConnection, 290, 2300},
      {"time-out below one poll never connects", "127.0.0.1", true, 99, 0, F::kNoConnection, 0, 2000},
      {"connects after the first poll", "127.0.0.1", true, 100, 0, F::kNone, 0, 2000},
      {"a name connects", "localhost", true, 2000, 0, F::kNone, 0, 2000},
      {"any address", "0.0.0.0", false, 5000, 0, F::kNoAddress, 0, 2500},
      {"unknown name", "no-such-host.invalid", false, 5000, 0, F::kNoAddress, 0, 2500},
      {"aborted wait ends the attempt within one poll", "127.0.0.1", false, 5000, 3, F::kAborted, 0, 1000},
      {"lookup slower than the time-out", "hangs.test", false, 300, 0, F::kLookupTimedOut, 290, 2300},
  };
  g_lookups = 0;
  g_releaseHang = false;
  platform::SetResolverForTesting(&HangingResolver);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackListener listener;
    DEVICE_INFO info = Loopback(c.listening ? listener.Port() : ClosedLoopbackPort(), c.timeoutMs);
    info.address = c.address;
    TCPClient client;
    int waits = 0;
    TCPClient::AbortableWait wait;
    if (c.abortAtWait > 0) {
      wait = [&](std::uint32_t ms) { return ms == TCPClient::kConnectPollMs && ++waits >= c.abortAtWait; };
    }
    const auto start = Clock::now();
    EXPECT_EQ(c.failure == F::kNone, client.Connect(info, wait));
    EXPECT_GE(ElapsedMs(start), c.minMs);
    EXPECT_LT(ElapsedMs(start), c.maxMs);
    EXPECT_EQ(c.failure == F::kNone, client.IsConnected());
    EXPECT_EQ(c.abortAtWait, waits);
    EXPECT_EQ(c.failure, client.LastFailure());
  }
  g_releaseHang = true;
  platform::SetResolverForTesting(nullptr);
  EXPECT_EQ(3, g_lookups.load()) << "a dotted address reached the resolver";
}

// A loss is reported once: the socket leaves use, also after part of a
// block arrived, and nobody spins on it afterwards.
TEST(TCPClientTest, ResetOrOrderlyCloseTakesTheSocketOutOfUse) {
  struct Case { const char* name; bool reset; std::string sentBefore; };
  const Case cases[] = {{"reset while idle", true, ""}, {"orderly close inside a block", false, "ab"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Connection c;
    ASSERT_TRUE(c.peer.Write(Bytes(k.sentBefore)));
    k.reset ? c.peer.Reset() : c.peer.Close();
    std::vector<char> out;
    EXPECT_FALSE(c.client.Receive(out, 4));
    EXPECT_EQ(Bytes(k.sentBefore), out);
    EXPECT_FALSE(c.client.IsConnected());
    const auto start = Clock::now();
    EXPECT_FALSE(c.client.Receive(out, 4));
    EXPECT_LT(ElapsedMs(start), 50);
    EXPECT_TRUE(c.client.Receive(out, 0));
    EXPECT_FALSE(c.client.Send(Bytes("late")));
  }
}

// Both ways of waiting end at the socket's receive time-out (run side by
// side: each takes the whole time-out).
TEST(TCPClientTest, ReceiveTimeoutKeepsTheSocket) {
  auto timeOut = [](Wait wait) {
    Connection c(wait);
    std::vector<char> out;
    const auto start = Clock::now();
    EXPECT_FALSE(c.client.Receive(out, 1));
    EXPECT_GE(ElapsedMs(start), TCPClient::kSocketTimeoutMs - 100);
    EXPECT_LT(ElapsedMs(start), 2 * TCPClient::kSocketTimeoutMs);
    EXPECT_TRUE(c.client.IsConnected());
    ASSERT_TRUE(c.peer.Write(Bytes("z")));
    EXPECT_TRUE(c.client.Receive(out, 1));
  };
  auto untilShutdown = std::async(std::launch::async, timeOut, Wait::kUntilShutdown);
  timeOut(Wait::kSliced);
  untilShutdown.get();
}

// A blocked read ends within one check for a stopping thread (the socket
// stays) and at once for a shutdown (the socket goes), also where it waits
// inside the receive call.
TEST(TCPClientTest, StopCheckOrShutdownEndsABlockedReceive) {
  struct Case { const char* name; Wait wait; bool shutdown; };
  const Case cases[] = {{"sliced, stop check", Wait::kSliced, false},
                        {"sliced, shutdown", Wait::kSliced, true},
                        {"in the receive, shutdown", Wait::kUntilShutdown, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Connection c(k.wait);
    ASSERT_TRUE(c.peer.Write(Bytes("ab")));
    std::atomic<bool> stop{false};
    std::atomic<int> checks{0};
    auto reader = std::async(std::launch::async, [&] {
      std::vector<char> out;
      return c.client.Receive(out, 4, [&] { ++checks; return stop.load(); });
    });
    // The read has the first bytes and blocks now: sliced, it has been
    // checked again after one 100 ms slice; in the receive, it has been
    // checked before its second read.
    const int blocked = k.wait == Wait::kSliced ? 4 : 2;
    ASSERT_TRUE(WaitUntil([&] { return checks.load() >= blocked; }, 5000));
    EXPECT_EQ(std::future_status::timeout, reader.wait_for(std::chrono::milliseconds(0)));
    const auto start = Clock::now();
    k.shutdown ? c.client.Shutdown() : stop.store(true);
    ASSERT_EQ(std::future_status::ready, reader.wait_for(std::chrono::seconds(2)));
    EXPECT_FALSE(reader.get());
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ(!k.shutdown, c.client.IsConnected());
    EXPECT_EQ(k.shutdown, c.peer.WaitForClose(k.shutdown ? kTimeoutMs : 0));
  }
}

// A two-part read fills the first part before the second, both when the
// bytes are waiting and when they arrive during the readiness wait; an
// orderly close is a loss there too.
TEST(TCPClientTest, TwoPartReceiveFillsTheFirstPartFirst) {
  struct Case { const char* name; Wait wait; bool duringWait, close; };
  const Case cases[] = {{"bytes waiting", Wait::kSliced, false, false},
                        {"bytes arrive during the wait", Wait::kSliced, true, false},
                        {"orderly close during the wait", Wait::kSliced, true, true},
                        {"in the receive: bytes arrive", Wait::kUntilShutdown, true, false},
                        {"in the receive: orderly close", Wait::kUntilShutdown, true, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Connection c(k.wait);
    if (!k.duringWait) {
      ASSERT_TRUE(c.peer.Write(Bytes("0123456789")));
    }
    char first[4];
    char second[16];
    std::atomic<int> checks{0};
    auto reader = std::async(std::launch::async, [&] {
      return c.client.ReceiveSome(first, sizeof first, second, sizeof second,
                                  [&] { return ++checks < 0; });
    });
    if (k.duringWait) {
      // Sliced: past the first slice; in the receive: past the only check.
      const int waiting = k.wait == Wait::kSliced ? 2 : 1;
      ASSERT_TRUE(WaitUntil([&] { return checks.load() >= waiting; }, 5000)) << "not waiting";
      if (k.close) {
        c.peer.Close();
      } else {
        ASSERT_TRUE(c.peer.Write(Bytes("0123456789")));
      }
    }
    ASSERT_EQ(std::future_status::ready, reader.wait_for(std::chrono::seconds(2)));
    const std::size_t got = reader.get();
    EXPECT_EQ(!k.close, c.client.IsConnected());
    if (k.close) {
      EXPECT_EQ(0u, got);
      continue;
    }
    ASSERT_EQ(10u, got);
    EXPECT_EQ("0123", std::string(first, 4));
    EXPECT_EQ("456789", std::string(second, 6));
  }
}

}  // namespace
}  // namespace quorvel
