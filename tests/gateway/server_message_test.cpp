#include "gateway/server_message.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

std::vector<char> Data(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

TEST(ServerMessageTest, HeaderLineRules) {
  struct Case { const char* name; std::string text; Headers expected; };
  const Case cases[] = {
      {"empty line ends the block", "Response: user/logon\r\nStatus: OK\r\n\r\nCid: 3\r\n",
       {{"Response", "user/logon"}, {"Status", "OK"}}},
      {"text after the last line end is ignored", "Response: user/logon\r\nStatus: OK",
       {{"Response", "user/logon"}}},
      {"blanks and tabs trimmed", "Status:  OK \t\r\n", {{"Status", "OK"}}},
      {"time of day has a second colon", "Time: 12:30\r\nStatus: OK\r\n", {{"Status", "OK"}}},
      {"nothing after the colon", "Status:\r\n", {}},
      {"final colon dropped", "Status: OK:\r\n", {{"Status", "OK"}}},
      {"leading colon gives empty key", ":value\r\n", {{"", "value"}}},
      {"line without colon skipped", "garbage\r\nStatus: OK\r\n", {{"Status", "OK"}}},
      {"bare line feeds are not line ends", "A: 1\nB: 2\r\n", {}},
      {"keys are kept as sent", "status: ok\r\n", {{"status", "ok"}}},
      {"empty value before a final colon", "Status::\r\n", {{"Status", ""}}},
      {"bytes of any value pass", std::string("K: a\0b\r\n", 8), {{"K", std::string("a\0b", 3)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerMessage message;
    message.SetHeaderData(Data(c.text));
    EXPECT_EQ(!c.expected.empty(), message.ParseHeaders());
    EXPECT_EQ(c.expected, message.GetHeaders());
  }
}

TEST(ServerMessageTest, ParseNeedsACommandAndTheLastHeaderWins) {
  struct Case { const char* name; const char* text; bool parses, isResponse; const char* command; };
  const Case cases[] = {
      {"no header data", "", false, true, ""},
      {"headers without a command", "Status: OK\r\n", false, true, ""},
      {"server request without Request fails", "Response: request/validation\r\nStatus: OK\r\n",
       false, false, ""},
      {"last header wins", "Response: first\r\nResponse: second\r\n", true, true, "second"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerMessage message;
    message.SetHeaderData(Data(c.text));
    EXPECT_EQ(c.parses, message.Parse());
    EXPECT_EQ(c.isResponse, message.IsResponse());
    EXPECT_EQ(c.command, message.GetCommand());
    std::vector<char> body = Data("untouched");
    EXPECT_FALSE(message.GetBody(body)) << "an empty body is none";
    EXPECT_EQ(Data("untouched"), body);
  }
  ServerMessage keys;
  keys.SetHeaderData(Data("Status: OK\r\n"));
  ASSERT_TRUE(keys.ParseHeaders());
  EXPECT_EQ("OK", keys.GetHeader("Status"));
  EXPECT_EQ("", keys.GetHeader("status")) << "keys match exactly";
  EXPECT_EQ("", keys.GetHeader("Stat"));

  // The keys of every frame are found by the parse: the last one still
  // wins (also a few bytes from the block's end), a key of the same length
  // is another key, and a reused or copied message finds only its own
  // block's headers.
  ServerMessage frame;
  frame.SetHeaderData(Data("Cid: 1\r\nWidth: 704\r\nCix: 9\r\nCid:2\r\n"));
  ASSERT_TRUE(frame.ParseHeaders());
  EXPECT_EQ("2", frame.GetHeader("Cid"));
  EXPECT_EQ("9", frame.GetHeader("Cix"));
  const ServerMessage copy(frame);
  frame.SetHeaderData(Data("Status: OK\r\n"));
  ASSERT_TRUE(frame.ParseHeaders());
  EXPECT_EQ("", frame.GetHeader("Width"));
  EXPECT_EQ("", frame.GetHeader("Cid"));
  EXPECT_EQ("704", copy.GetHeader("Width"));
  frame.HeaderSpace(0);
  EXPECT_EQ("", frame.GetHeader("Status")) << "new header data drops the old headers";
  ServerMessage assigned;
  assigned.SetHeaderData(Data("Response: video/stream\r\n"));
  ASSERT_TRUE(assigned.Parse());
  assigned = ServerMessage();
  EXPECT_EQ("", assigned.GetCommand()) << "an assigned message keeps no command of its own";
}

// A message reused for a stream recognises a repeat of the block it split
// last: after any other block, and again after itself, its known keys,
// their presence and its command must be those of a fresh message.
TEST(ServerMessageTest, AReusedMessageSplitsEveryBlockAsAFreshOne) {
  const std::string frame =
      "Response: video/stream\r\nCid: 12\r\nStatus: OK\r\nFourcc: 875967048\r\nWidth: 704\r\n"
      "Height: 576\r\nSize: 704x576\r\n\r\n";
  std::string otherChannel = frame;
  otherChannel.replace(otherChannel.find("12"), 2, "13");
  const std::string blocks[] = {
      frame,
      otherChannel,  // as long, one byte apart
      "Cid: 1\r\nWidth: 704\r\n",
      "Cid: 12\r\nWidth: 70\r\n",  // as long, its values elsewhere
      frame + "Cid: 99\r\n",  // a line after the end of the block
      "Response: video/stream\r\nStatus::\r\nCid: 12\r\n",  // an empty value is there
      "Response: video/stream\r\nCid: 12\r\n",
      "garbage\r\n",  // no header
      "Response: " + std::string(300, 'r') + "\r\nCid: 7\r\n",  // too long to keep
  };
  const ServerMessage::Known keys[] = {ServerMessage::Known::kCid,    ServerMessage::Known::kSize,
                                       ServerMessage::Known::kWidth,  ServerMessage::Known::kStatus,
                                       ServerMessage::Known::kFourcc, ServerMessage::Known::kHeight,
                                       ServerMessage::Known::kRequest, ServerMessage::Known::kResponse};
  ServerMessage reused;
  auto parseLike = [&](const std::string& text) {
    ServerMessage fresh;
    fresh.SetHeaderData(Data(text));
    reused.SetHeaderData(Data(text));
    EXPECT_EQ(fresh.ParseHeaders(), reused.ParseHeaders());
    EXPECT_EQ(fresh.Parse(), reused.Parse());
    EXPECT_EQ(fresh.GetCommand(), reused.GetCommand());
    for (const ServerMessage::Known key : keys) {
      const std::string_view want = fresh.HeaderView(key);
      const std::string_view got = reused.HeaderView(key);
      EXPECT_EQ(want, got) << "key " << static_cast<int>(key);
      EXPECT_EQ(want.data() == nullptr, got.data() == nullptr) << "key " << static_cast<int>(key);
    }
  };
  for (const std::string& before : blocks) {
    for (const std::string& block : blocks) {
      SCOPED_TRACE(before.substr(0, 40) + " | " + block.substr(0, 40));
      parseLike(before);
      parseLike(block);
      parseLike(block);
    }
  }
}

}  // namespace
}  // namespace quorvel
