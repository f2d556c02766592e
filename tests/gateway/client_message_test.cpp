#include "gateway/client_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

std::vector<char> Bytes(std::initializer_list<unsigned char> bytes) {
  return std::vector<char>(bytes.begin(), bytes.end());
}

std::vector<char> Frame(const std::string& text) {
  std::vector<char> frame = Bytes({static_cast<unsigned char>(text.size() & 0xFF),
                                   static_cast<unsigned char>((text.size() >> 8) & 0xFF),
                                   static_cast<unsigned char>((text.size() >> 16) & 0xFF),
                                   static_cast<unsigned char>((text.size() >> 24) & 0xFF)});
  frame.insert(frame.end(), text.begin(), text.end());
  return frame;
}

TEST(ClientMessageTest, ProfileRequestFrameIsPinnedByteForByte) {
  ClientMessage message("user/profile");
  message.AddParam("name", "a b/c");
  std::vector<char> frame;
  message.Serialize(frame);

  const std::string text = "user/profile?name=a%20b%2Fc";
  ASSERT_EQ(27u, text.size());
  std::vector<char> expected = Bytes({0x1B, 0x00, 0x00, 0x00});
  expected.insert(expected.end(), text.begin(), text.end());
  EXPECT_EQ(expected, frame);
}

TEST(ClientMessageTest, LengthIsLittleEndianAboveOneByte) {
  ClientMessage message("video/realtime/subscribe");
  message.AddParam("pid", std::string(300, 'p'));
  std::vector<char> frame;
  message.Serialize(frame);
  ASSERT_GE(frame.size(), 4u);
  const std::size_t textSize = frame.size() - 4;
  EXPECT_EQ(static_cast<char>(textSize & 0xFF), frame[0]);
  EXPECT_EQ(static_cast<char>((textSize >> 8) & 0xFF), frame[1]);
  EXPECT_EQ(0, frame[2]);
  EXPECT_EQ(0, frame[3]);
  EXPECT_GT(textSize, 255u);
}

TEST(ClientMessageTest, EventListCommasAreEncoded) {
  ClientMessage message("recorder/event/subscribe");
  message.AddParam("events", "Unknown,IOState,VideoMotion,CameraState");
  EXPECT_EQ("recorder/event/subscribe?events=Unknown%2CIOState%2CVideoMotion%2CCameraState",
            message.GetRequestText());
}

TEST(ClientMessageTest, ParametersJoinInOrderWithNumbersInDecimal) {
  ClientMessage message("camera/ptz/move");
  message.AddParam("pid", "cam-1");
  message.AddParam("speed", 4294967295u);
  message.AddParam("zero", 0u);
  EXPECT_EQ("camera/ptz/move?pid=cam-1&speed=4294967295&zero=0", message.GetRequestText());
}

TEST(ClientMessageTest, EmptyTextValueIsLeftOut) {
  ClientMessage onlyEmpty("user/logon");
  onlyEmpty.AddParam("pass", "");
  EXPECT_EQ("user/logon", onlyEmpty.GetRequestText());
  std::vector<char> frame;
  onlyEmpty.Serialize(frame);
  EXPECT_EQ(Frame("user/logon"), frame);

  ClientMessage mixed("user/logon");
  mixed.AddParam("pass", "");
  mixed.AddParam("user", "x");
  EXPECT_EQ("user/logon?user=x", mixed.GetRequestText());
}

TEST(ClientMessageTest, BareCommandHasNoQuestionMark) {
  ClientMessage message("user/logoff");
  std::vector<char> frame;
  message.Serialize(frame);
  EXPECT_EQ(Frame("user/logoff"), frame);
}

TEST(ClientMessageTest, EmptyRequestGivesEmptyFrame) {
  ClientMessage message("");
  std::vector<char> frame = Bytes({0x01});
  message.Serialize(frame);
  EXPECT_TRUE(frame.empty());
}

TEST(UrlEncodeTest, EveryByteClass) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"unreserved pass", "azAZ09~-_.", "azAZ09~-_."},
      {"blank slash comma colon", " /,:", "%20%2F%2C%3A"},
      {"reserved ASCII", "?&=%+#", "%3F%26%3D%25%2B%23"},
      {"control bytes", std::string("\x00\x01\x1f\x7f", 4), "%00%01%1F%7F"},
      {"two-byte UTF-8 letter", "\xC3\xA9", "%C3%A9"},
      {"high bytes upper-case hex", "\x80\xFF\xAB", "%80%FF%AB"},
      {"product text", "Gateway SDK / Kalmeno 3.0", "Gateway%20SDK%20%2F%20Kalmeno%203.0"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.out, UrlEncode(c.in));
  }
}

}  // namespace
}  // namespace quorvel
