#include "gateway/client_message.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

using Params = std::vector<std::pair<std::string, std::string>>;

std::vector<char> Frame(std::vector<unsigned char> length, const std::string& text) {
  std::vector<char> frame(length.begin(), length.end());
  frame.insert(frame.end(), text.begin(), text.end());
  return frame;
}

// Only ASCII letters, digits and "~-_." pass unencoded; empty values are left out.
TEST(ClientMessageTest, FramesArePinnedByteForByte) {
  struct Case {
    const char* name;
    const char* command;
    Params params;
    std::vector<char> expected;
  };
  const Case cases[] = {
      {"profile request", "user/profile", {{"name", "a b/c"}},
       Frame({0x1B, 0x00, 0x00, 0x00}, "user/profile?name=a%20b%2Fc")},
      {"every other byte as upper-case hex", "c", {{"v", "azAZ09~-_.?&=%\xC3\xA9"}, {"e", ""}},
       Frame({0x20, 0x00, 0x00, 0x00}, "c?v=azAZ09~-_.%3F%26%3D%25%C3%A9")},
      {"length above one byte is little-endian", "c", {{"p", std::string(300, 'p')}},
       Frame({0x30, 0x01, 0x00, 0x00}, "c?p=" + std::string(300, 'p'))},
      {"empty request gives an empty frame", "", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientMessage message(c.command);
    for (const auto& p : c.params) message.AddParam(p.first, p.second);
    std::vector<char> frame = {'\x01'};  // stale content must go
    message.Serialize(frame);
    EXPECT_EQ(c.expected, frame);
    EXPECT_EQ(frame.size(), message.FrameSize());
  }
}

}  // namespace
}  // namespace quorvel
