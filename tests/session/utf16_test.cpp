#include "session/utf16.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

TEST(Utf8ToUtf16Test, ValidSequencesOfEveryLength) {
  struct Case {
    const char* label;
    std::string utf8;
    std::u16string units;
  };
  const Case cases[] = {
      {"empty", "", u""},
      {"two-byte U+07FF", "\xDF\xBF", std::u16string(1, char16_t(0x07FF))},
      {"three-byte U+20AC", "\xE2\x82\xAC", std::u16string(1, char16_t(0x20AC))},
      {"three-byte U+FFFF", "\xEF\xBF\xBF", std::u16string(1, char16_t(0xFFFF))},
      {"four-byte U+10000", "\xF0\x90\x80\x80", std::u16string{char16_t(0xD800), char16_t(0xDC00)}},
      {"four-byte U+10FFFF", "\xF4\x8F\xBF\xBF", std::u16string{char16_t(0xDBFF), char16_t(0xDFFF)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.units);
  }
}

TEST(Utf8ToUtf16Test, IllFormedInputBecomesReplacementCharacters) {
  const char16_t R = 0xFFFD;
  struct Case {
    const char* label;
    std::string utf8;
    std::u16string units;
  };
  const Case cases[] = {
      {"lone continuation byte", "a\x80z", {u'a', R, u'z'}},
      {"byte FF", "\xFF", {R}},
      {"overlong two-byte lead C0", "\xC0\xAF", {R, R}},
      {"overlong three-byte form", "\xE0\x80\xAF", {R, R, R}},
      {"encoded surrogate D800", "\xED\xA0\x80", {R, R, R}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
      {"truncated three-byte sequence is one replacement", "\xE2\x82z", {R, u'z'}},
      {"truncated at the end of the text", "a\xF0\x9F\x98", {u'a', R}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.units);
  }
}

}  // namespace
}  // namespace quorvel
