#include "session/log_on_digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/utf16.h"

namespace quorvel {
namespace {

bool IsLowerHex40(const std::string& text) {
  if (text.size() != 40) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

TEST(Sha1HexTest, KnownVector) {
  EXPECT_EQ(Sha1Hex({'a', 'b', 'c'}), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// Each case pairs the text with the UTF-16LE bytes built by hand from its code
// points; the digest must be the SHA-1 of exactly those bytes.
TEST(LogOnDigestTest, HashesUtf16LittleEndianOfPasswordThenKey) {
  struct Case {
    const char* label;
    std::string password;
    std::string key;
    std::vector<unsigned char> utf16le;
    const char* expected;  // computed independently
  };
  const Case cases[] = {
      {"ascii: every character followed by a zero byte, password first", "secret", "KEY123",
       {'s', 0, 'e', 0, 'c', 0, 'r', 0, 'e', 0, 't', 0, 'K', 0, 'E', 0, 'Y', 0, '1', 0, '2', 0, '3', 0},
       "fa019c0a4112873f3520cfd4d7335d59357d1364"},
      {"U+00E4 (C3 A4) contributes E4 00", "p\xC3\xA4ss", "k",
       {'p', 0, 0xE4, 0x00, 's', 0, 's', 0, 'k', 0},
       "7607df966e5449080a38ae9365ce5fc378bbf1e0"},
      {"U+1F600 becomes the surrogate pair D83D DE00", "a\xF0\x9F\x98\x80", "k",
       {'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 'k', 0},
       "70d003f307df03b02ba7f6f4d1c4c76deb01af09"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf16LeBytes(Utf8ToUtf16(c.password + c.key)), c.utf16le);
    const std::string digest = ComputeLogOnDigest(c.password, c.key);
    EXPECT_TRUE(IsLowerHex40(digest)) << digest;
    EXPECT_EQ(digest, Sha1Hex(c.utf16le));
    EXPECT_EQ(digest, c.expected);
    // The UTF-8 bytes themselves must not be what is hashed.
    const std::string utf8 = c.password + c.key;
    EXPECT_NE(digest, Sha1Hex(std::vector<unsigned char>(utf8.begin(), utf8.end())));
  }
}

TEST(LogOnDigestTest, StrayByteInPasswordStillGivesFullDigest) {
  const std::string digest = ComputeLogOnDigest("pa\xFFss", "key");
  EXPECT_TRUE(IsLowerHex40(digest)) << digest;
  EXPECT_EQ(digest, Sha1Hex({'p', 0, 'a', 0, 0xFD, 0xFF, 's', 0, 's', 0, 'k', 0, 'e', 0, 'y', 0}));
}

TEST(LogOnDigestTest, EmptyPasswordOrKeyGivesNoDigest) {
  EXPECT_EQ(ComputeLogOnDigest("", "key"), "");
  EXPECT_EQ(ComputeLogOnDigest("password", ""), "");
}

}  // namespace
}  // namespace quorvel
