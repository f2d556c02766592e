#include "gateway/send_receive_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "gateway/wire_format.h"
#include "support/loopback_peer.h"

namespace quorvel {
namespace {

using namespace test_support;

constexpr std::uint32_t kSentinel = 77;

// A header block of exactly size bytes that would parse as a reply.
std::vector<char> HeaderBlock(std::uint32_t size) {
  std::vector<char> bytes = LengthBytes(size);
  Append(bytes, std::string("Response: user/logon\r\n\r\n").append(size - 24, 'h'));
  return bytes;
}

class SendReceiveBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_base.Connect(Loopback(m_listener.Port())));
    m_peer = m_listener.Accept(4000);
    ASSERT_TRUE(m_peer.IsOpen());
  }

  LoopbackListener m_listener;
  CSendReceiveBase m_base;
  LoopbackPeer m_peer;
};

// Every case is followed on the wire by a sentinel length: the next
// ReadLength must return it, which shows the reader consumed exactly the
// case's bytes (and allocated nothing for a refused length).
TEST_F(SendReceiveBaseTest, FramingLimitsAndResynchronisation) {
  enum class Read { kMessage, kMarkedMessage, kBlock };
  struct Case { const char* name; std::vector<char> bytes; Read read; bool ok; const char* command;
                std::string body; };
  const std::string binary = [] {
    std::string b(70000, '\0');
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(i * 7);
    return b;
  }();
  const std::string largest(wire::kMaxBlockLength, 'b');
  const auto joined = [](std::vector<char> first, const std::vector<char>& second) {
    Append(first, second);
    return first;
  };
  const std::vector<char> ping = ServerFrame("Response: ping\r\n");
  const Case cases[] = {
      {"junk before the marker",
       joined(Bytes("xx"), ServerFrame("Response: user/logon\r\nStatus: OK\r\n", "<r/>")),
       Read::kMarkedMessage, true, "user/logon", "<r/>"},
      {"marker straddling the read buffer's end",
       joined(std::vector<char>(ReadBuffer::kCapacity - 3, 'j'), ping), Read::kMarkedMessage, true,
       "ping", ""},
      {"more than a read buffer of junk",
       joined(std::vector<char>(3 * ReadBuffer::kCapacity + 11, '\x07'), ping),
       Read::kMarkedMessage, true, "ping", ""},
      {"header length one above the largest", LengthBytes(wire::kMaxBlockLength + 1),
       Read::kMessage, false, "", ""},
      {"header one below the limit is used",
       joined(HeaderBlock(wire::kHeaderLimit - 1), LengthBytes(0)), Read::kMessage, true,
       "user/logon", ""},
      // The sentinel stands where the body length would be.
      {"header at the limit is dropped, body left unread", HeaderBlock(wire::kHeaderLimit),
       Read::kMessage, false, "", ""},
      {"body length zero gives an empty body", ServerFrame("Response: user/logoff\r\n", "", false),
       Read::kMessage, true, "user/logoff", ""},
      {"body above the largest length is left unread",
       joined(HeaderBlock(100), LengthBytes(wire::kMaxBlockLength + 1)), Read::kMessage, true,
       "user/logon", ""},
      {"binary body arrives whole", ServerFrame("Response: video/stream\r\n", binary, false),
       Read::kMessage, true, "video/stream", binary},
      {"message without command", ServerFrame("Status: OK\r\n", "x", false), Read::kMessage,
       false, "", "x"},
      {"block of the largest length",
       joined(LengthBytes(wire::kMaxBlockLength), Bytes(largest)), Read::kBlock, true, "", largest},
      {"block one above the largest", LengthBytes(wire::kMaxBlockLength + 1), Read::kBlock, false,
       "", ""},
  };
  ServerMessage message;  // reused, as the receiver does
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> all = c.bytes;
    Append(all, LengthBytes(kSentinel));
    auto writer = std::async(std::launch::async, [&] { return m_peer.Write(all); });
    if (c.read == Read::kBlock) {
      std::vector<char> block;
      EXPECT_EQ(c.ok, m_base.ReadBlock(block));
      EXPECT_TRUE(std::string(block.begin(), block.end()) == c.body);
    } else {
      ASSERT_TRUE(c.read != Read::kMarkedMessage || m_base.WaitForMessageStart());
      EXPECT_EQ(c.ok, m_base.ReceiveMessage(message));
      EXPECT_EQ(c.command, message.GetCommand());
      EXPECT_TRUE(message.GetBodyText() == c.body);
    }
    EXPECT_EQ(kSentinel, m_base.ReadLength());
    if (writer.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the reader left the stream unread";
      m_base.Disconnect();  // fails the blocked write
    }
    EXPECT_TRUE(writer.get());
  }
}

// A frame's body left in the stream: taken straight into the caller's
// storage, read in by the first accessor, refused for want of room, or left
// alone; after EndMessage the next read starts right behind the body.
TEST_F(SendReceiveBaseTest, PendingBodyIsTakenLoadedOrSkipped) {
  enum class Use { kTake, kTakeTooSmall, kLoad, kLeave };
  std::string large(70000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 13);
  struct Case { const char* name; std::string body; Use use; };
  const Case cases[] = {{"small body taken", "abc", Use::kTake},
                        {"large body taken", large, Use::kTake},
                        {"no room", large, Use::kTakeTooSmall},
                        {"read by an accessor", large, Use::kLoad},
                        {"small body left", "abc", Use::kLeave},
                        {"large body left", large, Use::kLeave}};
  ServerMessage message;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> all = ServerFrame("Response: video/stream\r\n", c.body, false);
    Append(all, LengthBytes(kSentinel));
    auto writer = std::async(std::launch::async, [&] { return m_peer.Write(all); });
    ASSERT_TRUE(m_base.ReceiveMessageHead(message));
    EXPECT_TRUE(message.BodyPending());
    EXPECT_EQ(c.body.size(), message.BodySize());
    std::vector<unsigned char> frame(c.body.size());
    switch (c.use) {
      case Use::kTake:
        EXPECT_TRUE(message.TakeBody(frame.data(), frame.size()));
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), c.body.begin(),
                               [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); }));
        EXPECT_EQ(0u, message.BodySize()) << "the body is the frame's now";
        break;
      case Use::kTakeTooSmall:
        EXPECT_FALSE(message.TakeBody(frame.data(), frame.size() - 1));
        EXPECT_TRUE(message.BodyPending());
        break;
      case Use::kLoad:
        EXPECT_TRUE(message.GetBodyText() == c.body);
        EXPECT_TRUE(message.TakeBody(frame.data(), frame.size())) << "then copied from the message";
        EXPECT_EQ(static_cast<unsigned char>(c.body.back()), frame.back());
        break;
      case Use::kLeave:
        break;
    }
    m_base.EndMessage(message);
    EXPECT_EQ(kSentinel, m_base.ReadLength());
    if (writer.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the reader left the stream unread";
      m_base.Disconnect();
    }
    EXPECT_TRUE(writer.get());
  }
}

}  // namespace
}  // namespace quorvel
