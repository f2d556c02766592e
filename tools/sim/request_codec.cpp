#include "request_codec.h"

#include <cstring>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <random>

#include "gateway/wire_format.h"

namespace strevon {
namespace sim {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendUint32(Bytes& out, std::uint32_t value) {
  unsigned char buf[quorvel::wire::kLengthSize];
  quorvel::wire::PutUint32Le(buf, value);
  out.insert(out.end(), buf, buf + sizeof(buf));
}

// The wire layout of a server message up to its body, written once; the
// callers size the buffer with PrefixSize.
std::size_t PrefixSize(bool with_marker) {
  return (with_marker ? quorvel::wire::kStartMarkerSize : 0) + quorvel::wire::kLengthSize;
}

unsigned char* PutPrefix(unsigned char* p, std::uint32_t length, bool with_marker) {
  if (with_marker) {
    std::memcpy(p, quorvel::wire::kStartMarker, quorvel::wire::kStartMarkerSize);
    p += quorvel::wire::kStartMarkerSize;
  }
  quorvel::wire::PutUint32Le(p, length);
  return p + quorvel::wire::kLengthSize;
}

unsigned char* PutHead(unsigned char* p, const std::string& header_text, std::uint32_t body_length,
                       bool with_marker) {
  p = PutPrefix(p, static_cast<std::uint32_t>(header_text.size()), with_marker);
  if (!header_text.empty()) std::memcpy(p, header_text.data(), header_text.size());
  p += header_text.size();
  quorvel::wire::PutUint32Le(p, body_length);
  return p + quorvel::wire::kLengthSize;
}

}  // namespace

std::string PercentDecode(const std::string& text, bool* ok) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      const int hi = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
      if (ok != nullptr) *ok = false;
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '~' || c == '-' || c == '_' || c == '.';
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

ParsedRequest ParseRequestText(const std::string& text) {
  ParsedRequest req;
  req.raw_text = text;
  const std::size_t q = text.find('?');
  req.command = text.substr(0, q);
  if (q == std::string::npos) return req;
  std::size_t pos = q + 1;
  while (pos <= text.size()) {
    std::size_t amp = text.find('&', pos);
    if (amp == std::string::npos) amp = text.size();
    const std::string item = text.substr(pos, amp - pos);
    if (!item.empty()) {
      const std::size_t eq = item.find('=');
      std::string name = item.substr(0, eq);
      std::string value;
      if (eq != std::string::npos) {
        bool ok = true;
        value = PercentDecode(item.substr(eq + 1), &ok);
        if (!ok) req.well_formed = false;
      } else {
        req.well_formed = false;
      }
      req.params[name] = value;
      req.ordered_params.emplace_back(std::move(name), std::move(value));
    }
    pos = amp + 1;
  }
  return req;
}

Bytes EncodeRequestFrame(const std::string& text) {
  Bytes out;
  AppendUint32(out, static_cast<std::uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

std::string BuildHeaderText(const HeaderList& headers) {
  std::string text;
  for (const auto& h : headers) {
    text += h.first;
    text += ": ";
    text += h.second;
    text += "\r\n";
  }
  text += "\r\n";
  return text;
}

Bytes EncodeLengthPrefix(std::uint32_t length, bool with_marker) {
  Bytes out(PrefixSize(with_marker));
  PutPrefix(out.data(), length, with_marker);
  return out;
}

Bytes EncodeMessageHead(const std::string& header_text, std::uint32_t body_length, bool with_marker) {
  Bytes out(PrefixSize(with_marker) + header_text.size() + quorvel::wire::kLengthSize);
  PutHead(out.data(), header_text, body_length, with_marker);
  return out;
}

Bytes EncodeServerMessage(const HeaderList& headers, const Bytes& body, bool with_marker) {
  // Sized once and filled with memcpy: one allocation per message, and no
  // range insert into a reserved vector (which GCC 12 at -O3 misreads as an
  // overflow under -Werror=stringop-overflow).
  const std::string header_text = BuildHeaderText(headers);
  Bytes out(PrefixSize(with_marker) + header_text.size() + quorvel::wire::kLengthSize + body.size());
  unsigned char* p = PutHead(out.data(), header_text, static_cast<std::uint32_t>(body.size()), with_marker);
  if (!body.empty()) std::memcpy(p, body.data(), body.size());
  return out;
}

Bytes EncodeServerMessage(const HeaderList& headers, const std::string& body, bool with_marker) {
  return EncodeServerMessage(headers, Bytes(body.begin(), body.end()), with_marker);
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < n) {
    const unsigned char c = byte(i);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < n && (byte(i + 1) & 0xC0) == 0x80) {
      cp = ((c & 0x1Fu) << 6) | (byte(i + 1) & 0x3Fu);
      len = 2;
      if (cp < 0x80) cp = 0xFFFD;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < n && (byte(i + 1) & 0xC0) == 0x80 &&
               (byte(i + 2) & 0xC0) == 0x80) {
      cp = ((c & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
      len = 3;
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    } else if ((c & 0xF8) == 0xF0 && i + 3 < n && (byte(i + 1) & 0xC0) == 0x80 &&
               (byte(i + 2) & 0xC0) == 0x80 && (byte(i + 3) & 0xC0) == 0x80) {
      cp = ((c & 0x07u) << 18) | ((byte(i + 1) & 0x3Fu) << 12) | ((byte(i + 2) & 0x3Fu) << 6) |
           (byte(i + 3) & 0x3Fu);
      len = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string ComputeLogonDigest(const std::string& password, const std::string& key) {
  const std::u16string units = Utf8ToUtf16(password + key);
  std::vector<unsigned char> input;
  input.reserve(units.size() * 2);
  for (char16_t u : units) {
    input.push_back(static_cast<unsigned char>(u & 0xFF));
    input.push_back(static_cast<unsigned char>((u >> 8) & 0xFF));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_len = 0;
  if (EVP_Digest(input.data(), input.size(), digest, &digest_len, EVP_sha1(), nullptr) != 1) {
    return std::string();
  }
  std::string hex;
  char buf[3];
  for (unsigned int i = 0; i < digest_len; ++i) {
    std::snprintf(buf, sizeof(buf), "%.2x", digest[i]);
    hex += buf;
  }
  return hex;
}

std::string MakeDigestKey() {
  unsigned char raw[16];
  if (RAND_bytes(raw, sizeof(raw)) != 1) {
    std::random_device rd;
    for (auto& b : raw) b = static_cast<unsigned char>(rd());
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string key;
  for (unsigned char b : raw) {
    key.push_back(kHex[b >> 4]);
    key.push_back(kHex[b & 0x0F]);
  }
  return key;
}

}  // namespace sim
}  // namespace strevon
