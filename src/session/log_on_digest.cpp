#include "session/log_on_digest.h"

#include <openssl/evp.h>

#include "session/utf16.h"

namespace quorvel {

std::string Sha1Hex(const std::vector<unsigned char>& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &digestLength, EVP_sha1(), nullptr) != 1) {
    return std::string();
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(digestLength * 2);
  for (unsigned int i = 0; i < digestLength; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 0x0F]);
  }
  return out;
}

std::string ComputeLogOnDigest(const std::string& password, const std::string& digestKey) {
  if (password.empty() || digestKey.empty()) return std::string();
  return Sha1Hex(Utf16LeBytes(Utf8ToUtf16(password + digestKey)));
}

}  // namespace quorvel
