// UTF-8 to UTF-16 conversion for the log-on digest.
//
// The Gateway hashes the password as UTF-16 code units, so the driver must
// produce exactly the units the server side produces from the same text,
// including for malformed input. Ill-formed UTF-8 does not fail the
// conversion: each maximal ill-formed subsequence becomes one U+FFFD, which
// is what the Windows conversion (MultiByteToWideChar, code page 65001,
// flags 0) yields, so a password with a stray byte still hashes the same on
// both sides. Stateless; safe to call from any thread.
#pragma once

#include <string>
#include <vector>

namespace quorvel {

// Every code point as one unit, or as a surrogate pair above U+FFFF.
std::u16string Utf8ToUtf16(const std::string& text);

// The units as little-endian bytes, two per unit, no terminator.
std::vector<unsigned char> Utf16LeBytes(const std::u16string& units);

}  // namespace quorvel
