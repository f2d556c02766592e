#include "session/log_on_digest.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

// Expected digests are the SHA-1 of the UTF-16LE units written out by
// hand; each ill-formed UTF-8 subsequence must become one U+FFFD (FD FF),
// as on the Gateway's side, or the server refuses the log-on.
TEST(LogOnDigestTest, HashesUtf16LittleEndianOfPasswordThenKey) {
  struct Case {
    const char* label;
    std::string password, key;
    const char* digest;
  };
  const Case cases[] = {
      {"ascii: 73 00 65 00 ... 33 00", "secret", "KEY123", "fa019c0a4112873f3520cfd4d7335d59357d1364"},
      {"U+00E4 (C3 A4) gives E4 00", "p\xC3\xA4ss", "k", "7607df966e5449080a38ae9365ce5fc378bbf1e0"},
      {"U+1F600 gives 3D D8 00 DE", "a\xF0\x9F\x98\x80", "k", "70d003f307df03b02ba7f6f4d1c4c76deb01af09"},
      {"four-byte U+10FFFF", "\xF4\x8F\xBF\xBF", "k", "85a050cf61c29722b86f291b93a25575f31fb591"},
      {"stray byte FF", "pa\xFFss", "key", "9b88bdf02528250e9157f687767c20add595693d"},
      {"lone continuation byte", "a\x80z", "k", "63486dc98ef13cb86fdfe80a297cd2ca04b3a94c"},
      {"overlong two-byte lead C0: two", "\xC0\xAF", "k", "19061c6ef69378bc58ff8d828dcfac4bc4df1c70"},
      {"overlong three-byte form: three", "\xE0\x80\xAF", "k", "8758d5677e71eb9588d503d08b57d5cdc795276b"},
      {"encoded surrogate D800: three", "\xED\xA0\x80", "k", "8758d5677e71eb9588d503d08b57d5cdc795276b"},
      {"above U+10FFFF: four", "\xF4\x90\x80\x80", "k", "240afcc8476a49965580d90730446daf168ad958"},
      {"truncated three-byte sequence: one", "\xE2\x82z", "k", "61c902a6cb08c012dda69ed59ea3b0841073101c"},
      {"truncated at the end of the password", "a\xF0\x9F\x98", "k", "66252c01b62b1bee69f2ae319f244838ed39a477"},
      {"empty password: no digest", "", "key", ""},
      {"empty key: no digest", "password", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ComputeLogOnDigest(c.password, c.key), c.digest);
  }
}

}  // namespace
}  // namespace quorvel
