#include "gateway/send_receive_base.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "loopback_peer.h"

namespace quorvel {
namespace {

using testing_support::Append;
using testing_support::LengthBytes;
using testing_support::LoopbackListener;
using testing_support::LoopbackPeer;
using testing_support::Marker;
using testing_support::ServerFrame;
using Clock = std::chrono::steady_clock;

constexpr int kPeerTimeoutMs = 4000;

std::vector<char> Text(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A connected transport and the scripted server end of its socket.
class SendReceiveBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DEVICE_INFO info;
    info.address = "127.0.0.1";
    info.port = m_listener.Port();
    ASSERT_TRUE(m_base.Connect(info));
    m_peer = m_listener.Accept(kPeerTimeoutMs);
    ASSERT_TRUE(m_peer.IsOpen());
  }

  // Writes bytes, then a sentinel length of 77 that tells how far the
  // reader got: the next ReadLength must return exactly 77.
  void WriteThenSentinel(const std::vector<char>& bytes) {
    std::vector<char> all = bytes;
    Append(all, LengthBytes(77));
    ASSERT_TRUE(m_peer.Write(all));
  }

  LoopbackListener m_listener;
  CSendReceiveBase m_base;
  LoopbackPeer m_peer;
};

TEST_F(SendReceiveBaseTest, SendWritesTheRequestFrame) {
  ClientMessage message("user/profile");
  message.AddParam("name", "a b/c");
  EXPECT_TRUE(m_base.Send(message));
  std::string text;
  ASSERT_TRUE(m_peer.ReadRequest(text, kPeerTimeoutMs));
  EXPECT_EQ("user/profile?name=a%20b%2Fc", text);
}

TEST_F(SendReceiveBaseTest, MarkerSearchSkipsJunk) {
  std::vector<char> stream = Text("xx");
  Append(stream, ServerFrame("Response: user/logon\r\nStatus: OK\r\n", "<r/>"));
  ASSERT_TRUE(m_peer.Write(stream));
  ASSERT_TRUE(m_base.WaitForMessageStart());
  ServerMessage message;
  ASSERT_TRUE(m_base.ReceiveMessage(message));
  EXPECT_TRUE(message.IsCommand("user/logon"));
  EXPECT_EQ("OK", message.GetHeader("Status"));
  EXPECT_EQ("<r/>", message.GetBodyText());
}

TEST_F(SendReceiveBaseTest, MarkerSearchSkipsAPartialMarker) {
  std::vector<char> stream = Marker();
  stream.resize(9);  // the marker's first nine bytes, then the real one
  Append(stream, ServerFrame("Response: ping\r\n"));
  ASSERT_TRUE(m_peer.Write(stream));
  ASSERT_TRUE(m_base.WaitForMessageStart());
  ServerMessage message;
  EXPECT_TRUE(m_base.ReceiveMessage(message));
  EXPECT_TRUE(message.IsCommand("ping"));
}

TEST_F(SendReceiveBaseTest, BadHeaderLengthsReadNothingMore) {
  struct Case {
    const char* name;
    std::uint32_t length;
  };
  const Case cases[] = {{"zero", 0}, {"one above the limit", 0x00100000}, {"all bits", 0xFFFFFFFF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteThenSentinel(LengthBytes(c.length));
    ServerMessage message;
    EXPECT_FALSE(m_base.ReceiveMessage(message));
    EXPECT_EQ(77u, m_base.ReadLength());
  }
}

TEST_F(SendReceiveBaseTest, LongHeaderIsDroppedAndItsBodyLeftUnread) {
  std::string header = "Response: user/logon\r\n";
  header.resize(600, 'h');
  std::vector<char> bytes = LengthBytes(600);
  Append(bytes, header);
  WriteThenSentinel(bytes);  // the sentinel stands where the body length would be
  ServerMessage message;
  EXPECT_FALSE(m_base.ReceiveMessage(message));
  EXPECT_EQ(77u, m_base.ReadLength());
}

TEST_F(SendReceiveBaseTest, HeaderJustBelowTheLimitIsUsed) {
  std::string header = "Response: user/logon\r\n\r\n";
  header.resize(511, 'h');
  std::vector<char> bytes = LengthBytes(511);
  Append(bytes, header);
  Append(bytes, LengthBytes(0));
  ASSERT_TRUE(m_peer.Write(bytes));
  ServerMessage message;
  EXPECT_TRUE(m_base.ReceiveMessage(message));
}

TEST_F(SendReceiveBaseTest, BodyLengthZeroGivesAnEmptyBody) {
  ASSERT_TRUE(m_peer.Write(ServerFrame("Response: user/logoff\r\n", "", false)));
  ServerMessage message;
  ASSERT_TRUE(m_base.ReceiveMessage(message));
  std::vector<char> body;
  EXPECT_FALSE(message.GetBody(body));
  EXPECT_TRUE(message.IsCommand("user/logoff"));
}

TEST_F(SendReceiveBaseTest, BinaryBodyArrivesWhole) {
  std::string body(70000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(m_peer.Write(ServerFrame("Response: video/stream\r\nCid: 1\r\n", body, false)));
  ServerMessage message;
  ASSERT_TRUE(m_base.ReceiveMessage(message));
  EXPECT_EQ(body, message.GetBodyText());
}

TEST_F(SendReceiveBaseTest, MessageWithoutCommandIsNotDelivered) {
  ASSERT_TRUE(m_peer.Write(ServerFrame("Status: OK\r\n", "x", false)));
  ServerMessage message;
  EXPECT_FALSE(m_base.ReceiveMessage(message));
}

TEST_F(SendReceiveBaseTest, StopEndsTheMarkerSearchThroughJunk) {
  ASSERT_TRUE(m_peer.Write(Text(std::string(20, 'x'))));
  auto search = std::async(std::launch::async, [this] { return m_base.WaitForMessageStart(); });
  const auto start = Clock::now();
  m_base.Stop(100);  // never started: only signals the stop event
  ASSERT_EQ(std::future_status::ready, search.wait_for(std::chrono::seconds(2)));
  EXPECT_FALSE(search.get());
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_TRUE(m_base.IsConnected());
  EXPECT_EQ(0u, m_base.ReadLength());
}

TEST_F(SendReceiveBaseTest, PeerResetEndsTheMarkerSearch) {
  ASSERT_TRUE(m_peer.Write(Text("junk")));
  m_peer.Reset();
  EXPECT_FALSE(m_base.WaitForMessageStart());
  EXPECT_FALSE(m_base.IsConnected());
}

TEST_F(SendReceiveBaseTest, DisconnectClosesTheSocket) {
  m_base.Disconnect();
  EXPECT_FALSE(m_base.IsConnected());
  EXPECT_TRUE(m_peer.WaitForClose(kPeerTimeoutMs));
  ClientMessage message("user/logoff");
  EXPECT_FALSE(m_base.Send(message));
}

}  // namespace
}  // namespace quorvel
