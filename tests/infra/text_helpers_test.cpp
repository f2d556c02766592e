#include "infra/text_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

TEST(FormatStringTest, NullFormatGivesEmptyText) { EXPECT_EQ("", FormatStringV(nullptr, nullptr)); }

TEST(ParseIntTest, AcceptsOnlyOneSignAndDigits) {
  struct Case { const char* text; bool ok; int value; };
  const Case cases[] = {
      {"-7", true, -7},  {"+5", true, 5},    {"007", true, 7},   {"-0", true, 0},
      {"+", false, 0},   {"", false, 0},     {" 3", false, 0},   {"3 ", false, 0},
      {"3a", false, 0},  {"+-3", false, 0},  {"3.0", false, 0},  {"0x10", false, 0},
      {"2147483647", true, INT_MAX},         {"-2147483648", true, INT_MIN},
      // Wrapped like the C library's conversion, which saturates past 64 bits.
      {"4294967297", true, 1},  {"99999999999999999999", true, -1},  {"-99999999999999999999", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    int value = 99;
    EXPECT_EQ(c.ok, ParseInt(c.text, value));
    EXPECT_EQ(c.value, value);
  }
}

TEST(ParseLeadingIntTest, ReadsDigitsUpToTheFirstOtherCharacter) {
  const std::pair<const char*, int> cases[] = {
      {"3.0", 3}, {"  42", 42}, {"\t7x", 7}, {"-12abc", -12}, {"+9", 9},
      {"", 0},    {"abc", 0},   {"-", 0},    {" - 5", 0}, {"3000000000", -1294967296}};
  for (const auto& c : cases) EXPECT_EQ(c.second, ParseLeadingInt(c.first)) << c.first;
}

TEST(TextHelpersTest, OnlyAToZAreLowered) { EXPECT_EQ("a-z_09[@]\xC3\x89", ToLower("A-Z_09[@]\xC3\x89")); }

TEST(SplitTest, FollowsLineReadSemantics) {
  using Pieces = std::vector<std::string>;
  const std::pair<const char*, Pieces> cases[] = {
      {"", {}}, {"5;a;1;", {"5", "a", "1"}}, {";a;;1", {"", "a", "", "1"}}, {";;", {"", ""}},
      {"abc", {"abc"}}};
  for (const auto& c : cases) EXPECT_EQ(c.second, Split(c.first, ';')) << c.first;
}

TEST(GetKeyValueTest, FindsTheKeyBySubstringAndReadsUpToTheNextSeparator) {
  const char* const caps = ", \t\r\n";
  struct Case { const char* name; const char* text; const char* key; const char* assign;
                const char* separators; const char* expected; };
  const Case cases[] = {
      {"middle", "Pan=1, Tilt=0", "Tilt", "=", caps, "0"},
      {"missing", "Pan=1, Tilt=0", "Zoom", "=", caps, ""},
      {"value at the very end", "Pan=1, Preset=16", "Preset", "=", caps, "16"},
      {"assign as the last character", "Pan=1, Tilt=", "Tilt", "=", caps, ""},
      {"longer key that ends in it answers first", "AreaZoom=7, Zoom=3", "Zoom", "=", caps, "7"},
      {"key without assign is passed over", "Tilt, Tilt=4", "Tilt", "=", caps, "4"},
      {"name merely containing the key", "PanSpeed=9", "Pan", "=", caps, ""},
      {"later exact name", "PanSpeed=9, Pan=2", "Pan", "=", caps, "2"},
      {"name trimmed", "Pan =1;Tilt\t= 2 ;", "Pan", "=", ";", "1"},
      {"value not trimmed", "Pan =1;Tilt\t= 2 ;", "Tilt", "=", ";", " 2 "},
      {"version line with blank as assign", "Kalmeno 3.2.1\r\nBuild 77\r\n", "Build", " ", "\r\n",
       "77"},
      // Found by the capability-string fuzzer: a key starting with a
      // separator was found again at the same place by every round.
      {"key starting with a separator", "Pan=1, Tilt = 1 ,Zoom=0", " Tilt ", "=", caps, ""},
      {"key that is a separator", "a,b,c", ",", "=", ",", ""},
      {"key starting with the assign", ";x=1;y=2", ";y", "=", "=", ""},
      {"empty text", "", "Pan", "=", ",", ""},
      {"empty key", "Pan=1", "", "=", ",", ""},
      {"empty assign", "Pan=1", "Pan", "", ",", ""},
      {"empty separators", "Pan=1", "Pan", "=", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, GetKeyValue(c.text, c.key, c.assign, c.separators));
  }
}

}  // namespace
}  // namespace quorvel
