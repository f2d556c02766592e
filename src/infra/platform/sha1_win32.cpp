#include "infra/platform/sha1.h"

#include <windows.h>
#include <bcrypt.h>

namespace quorvel {
namespace platform {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

class AlgorithmHandle {
 public:
  AlgorithmHandle() {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&m_handle, BCRYPT_SHA1_ALGORITHM, nullptr, 0))) {
      m_handle = nullptr;
    }
  }
  ~AlgorithmHandle() {
    if (m_handle != nullptr) BCryptCloseAlgorithmProvider(m_handle, 0);
  }
  AlgorithmHandle(const AlgorithmHandle&) = delete;
  AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return m_handle; }

 private:
  BCRYPT_ALG_HANDLE m_handle = nullptr;
};

class HashHandle {
 public:
  explicit HashHandle(BCRYPT_ALG_HANDLE algorithm) {
    // The provider allocates the hash object itself (no object buffer).
    if (!Succeeded(BCryptCreateHash(algorithm, &m_handle, nullptr, 0, nullptr, 0, 0))) {
      m_handle = nullptr;
    }
  }
  ~HashHandle() {
    if (m_handle != nullptr) BCryptDestroyHash(m_handle);
  }
  HashHandle(const HashHandle&) = delete;
  HashHandle& operator=(const HashHandle&) = delete;
  BCRYPT_HASH_HANDLE Get() const { return m_handle; }

 private:
  BCRYPT_HASH_HANDLE m_handle = nullptr;
};

}  // namespace

bool Sha1(const unsigned char* data, std::size_t size, unsigned char (&digest)[kSha1Size]) {
  AlgorithmHandle algorithm;
  if (algorithm.Get() == nullptr) return false;
  HashHandle hash(algorithm.Get());
  if (hash.Get() == nullptr) return false;
  // BCryptHashData takes at most a ULONG per call.
  constexpr std::size_t kChunk = 0x40000000u;
  while (size > 0) {
    const ULONG chunk = static_cast<ULONG>(size < kChunk ? size : kChunk);
    if (!Succeeded(BCryptHashData(hash.Get(), const_cast<PUCHAR>(data), chunk, 0))) return false;
    data += chunk;
    size -= chunk;
  }
  return Succeeded(BCryptFinishHash(hash.Get(), digest, kSha1Size, 0));
}

}  // namespace platform
}  // namespace quorvel
