#include "session/log_on_digest.h"

#include "infra/platform/sha1.h"
#include "session/utf16.h"

namespace quorvel {

std::string Sha1Hex(const std::vector<unsigned char>& data) {
  unsigned char digest[platform::kSha1Size];
  if (!platform::Sha1(data.data(), data.size(), digest)) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(platform::kSha1Size * 2);
  for (unsigned char byte : digest) {
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
  }
  return out;
}

std::string ComputeLogOnDigest(const std::string& password, const std::string& digestKey) {
  if (password.empty() || digestKey.empty()) return std::string();
  return Sha1Hex(Utf16LeBytes(Utf8ToUtf16(password + digestKey)));
}

}  // namespace quorvel
