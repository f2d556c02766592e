// The SHA-1 digest (FIPS 180-4) of a byte string, as the log-on needs it.
// OpenSSL computes it on Linux, CNG (bcrypt) on Windows. Stateless; safe to
// call from any thread.
#pragma once

#include <cstddef>

namespace quorvel {
namespace platform {

constexpr std::size_t kSha1Size = 20;

// False when the hash could not be computed; digest is then undefined.
bool Sha1(const unsigned char* data, std::size_t size, unsigned char (&digest)[kSha1Size]);

}  // namespace platform
}  // namespace quorvel
