#include "gateway/server_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

std::vector<char> Data(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

ServerMessage WithHeaders(const std::string& text) {
  ServerMessage message;
  message.SetHeaderData(Data(text));
  return message;
}

TEST(ServerMessageTest, HeaderLineRules) {
  struct Case {
    const char* name;
    std::string text;
    Headers expected;
  };
  const Case cases[] = {
      {"two lines, empty line ends the block",
       "Response: user/logon\r\nStatus: OK\r\n\r\nCid: 3\r\n",
       {{"Response", "user/logon"}, {"Status", "OK"}}},
      {"text after the last line end is ignored",
       "Response: user/logon\r\nStatus: OK",
       {{"Response", "user/logon"}}},
      {"blanks and tabs trimmed", "Status:  OK \t\r\n", {{"Status", "OK"}}},
      {"time of day has a second colon", "Time: 12:30\r\nStatus: OK\r\n", {{"Status", "OK"}}},
      {"nothing after the colon", "Status:\r\n", {}},
      {"final colon dropped", "Status: OK:\r\n", {{"Status", "OK"}}},
      {"leading colon gives empty key", ":value\r\n", {{"", "value"}}},
      {"line without colon skipped", "garbage\r\nStatus: OK\r\n", {{"Status", "OK"}}},
      {"bare line feeds are not line ends", "A: 1\nB: 2\r\n", {}},
      {"empty first line", "\r\nStatus: OK\r\n", {}},
      {"keys are kept as sent", "status: ok\r\n", {{"status", "ok"}}},
      {"empty value before a final colon", "Status::\r\n", {{"Status", ""}}},
      {"two colons alone", "::\r\n", {{"", ""}}},
      {"one colon alone", ":\r\n", {}},
      {"final colon after three pieces", "A:b:c:\r\n", {}},
      {"bytes of any value pass", std::string("K: a\0b\r\n", 8), {{"K", std::string("a\0b", 3)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerMessage message = WithHeaders(c.text);
    EXPECT_EQ(!c.expected.empty(), message.ParseHeaders());
    EXPECT_EQ(c.expected, message.GetHeaders());
  }
}

TEST(ServerMessageTest, ParseHeadersWithoutDataIsFalse) {
  ServerMessage message;
  EXPECT_FALSE(message.ParseHeaders());
  EXPECT_FALSE(message.Parse());
}

TEST(ServerMessageTest, LastHeaderWinsAndKeysAreExact) {
  ServerMessage message = WithHeaders("Status: first\r\nStatus: second\r\nResponse: x\r\n");
  ASSERT_TRUE(message.Parse());
  EXPECT_EQ("second", message.GetHeader("Status"));
  EXPECT_EQ("", message.GetHeader("status"));
  EXPECT_EQ("", message.GetHeader("Stat"));
}

TEST(ServerMessageTest, ServerRequestTakesItsCommandFromRequestHeader) {
  ServerMessage message = WithHeaders("Response: request/validation\r\nRequest: video/stream\r\n");
  ASSERT_TRUE(message.Parse());
  EXPECT_FALSE(message.IsResponse());
  EXPECT_EQ("video/stream", message.GetCommand());
  EXPECT_TRUE(message.IsCommand("video/stream"));
  EXPECT_FALSE(message.IsCommand("request/validation"));
}

TEST(ServerMessageTest, ServerRequestWithoutRequestHeaderFailsParse) {
  ServerMessage message = WithHeaders("Response: request/validation\r\nStatus: OK\r\n");
  EXPECT_FALSE(message.Parse());
}

TEST(ServerMessageTest, ParseNeedsAResponse) {
  ServerMessage message = WithHeaders("Status: OK\r\n");
  EXPECT_TRUE(message.ParseHeaders());
  EXPECT_FALSE(message.Parse());
}

TEST(ServerMessageTest, IsCommandBySubstring) {
  ServerMessage message = WithHeaders("Response: recorder/event/subscribe\r\n");
  ASSERT_TRUE(message.Parse());
  EXPECT_TRUE(message.IsResponse());
  EXPECT_TRUE(message.IsCommand("recorder/event"));
  EXPECT_TRUE(message.IsCommand("recorder/event/subscribe"));
  EXPECT_TRUE(message.IsCommand(""));
  EXPECT_FALSE(message.IsCommand("recorder/event/unsubscribe"));
}

TEST(ServerMessageTest, BodyAccessors) {
  ServerMessage message;
  std::vector<char> out = Data("untouched");
  EXPECT_FALSE(message.GetBody(out));
  EXPECT_EQ(Data("untouched"), out);

  message.SetBody(Data("<xml/>"));
  message.SetBody({});  // an empty argument keeps the stored body
  ASSERT_TRUE(message.GetBody(out));
  EXPECT_EQ(Data("<xml/>"), out);
  EXPECT_EQ("<xml/>", message.GetBodyText());

  const std::vector<char> binary = {'\0', '\xFF', '\x01'};
  message.SetBody(binary);
  ASSERT_TRUE(message.GetBody(out));
  EXPECT_EQ(binary, out);
}

// The receiver reads message after message into one object.
TEST(ServerMessageTest, ReusedMessageShowsOnlyTheLatestBlocks) {
  ServerMessage message;
  const std::string big(4096, 'x');
  std::copy(big.begin(), big.end(), message.BodySpace(big.size()));
  const std::string header = "Response: video/stream\r\nCid: 1\r\n";
  std::copy(header.begin(), header.end(), message.HeaderSpace(header.size()));
  ASSERT_TRUE(message.Parse());

  message.Clear();
  EXPECT_EQ(0u, message.BodySize());
  EXPECT_FALSE(message.ParseHeaders());
  const std::string small = "<a/>";
  std::copy(small.begin(), small.end(), message.BodySpace(small.size()));
  EXPECT_EQ(small, message.GetBodyText());
  EXPECT_EQ(small, std::string(message.BodyData(), message.BodySize()));

  // A server request does not make the next message one.
  message.SetHeaderData(Data("Response: request/validation\r\nRequest: sync\r\n"));
  ASSERT_TRUE(message.Parse());
  EXPECT_FALSE(message.IsResponse());
  message.Clear();
  message.SetHeaderData(Data("Response: video/stream\r\n"));
  ASSERT_TRUE(message.Parse());
  EXPECT_TRUE(message.IsResponse());
  EXPECT_EQ("video/stream", message.GetCommand());
  message.SetBody(Data(small));

  // A copy owns its bytes.
  ServerMessage copy = message;
  message.BodySpace(small.size())[0] = '#';
  EXPECT_EQ(small, copy.GetBodyText());
}

}  // namespace
}  // namespace quorvel
