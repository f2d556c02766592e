#include "session/utf16.h"

#include <cstddef>
#include <cstdint>

namespace quorvel {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Allowed range of the second byte for a lead byte (Unicode Table 3-7); the
// narrower ranges exclude overlong forms, surrogates and values above
// U+10FFFF, so a sequence is rejected as soon as its second byte shows it.
bool SecondByteFits(unsigned char lead, unsigned char second) {
  switch (lead) {
    case 0xE0: return second >= 0xA0 && second <= 0xBF;
    case 0xED: return second >= 0x80 && second <= 0x9F;
    case 0xF0: return second >= 0x90 && second <= 0xBF;
    case 0xF4: return second >= 0x80 && second <= 0x8F;
    default: return second >= 0x80 && second <= 0xBF;
  }
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
    return;
  }
  cp -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
    } else {
      // C0, C1, F5..FF and a continuation byte without a lead.
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    // Consume the longest valid prefix; a broken sequence yields one U+FFFD
    // for that prefix and resumes at the byte that broke it.
    std::size_t taken = 1;
    bool complete = true;
    for (; taken < length; ++taken) {
      if (i + taken >= size) {
        complete = false;
        break;
      }
      const auto byte = static_cast<unsigned char>(text[i + taken]);
      const bool fits = taken == 1 ? SecondByteFits(lead, byte) : IsContinuation(byte);
      if (!fits) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (byte & 0x3F);
    }
    if (complete) {
      AppendCodePoint(out, cp);
    } else {
      out.push_back(kReplacement);
    }
    i += taken;
  }
  return out;
}

std::vector<unsigned char> Utf16LeBytes(const std::u16string& units) {
  std::vector<unsigned char> bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>((unit >> 8) & 0xFF));
  }
  return bytes;
}

}  // namespace quorvel
