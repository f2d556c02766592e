// CMutex: a named lock shared by all processes (and all threads) that use
// the same name; the log file's writers serialise on it.
//
// Lock waits up to 5000 ms; a holder that died releases it, and the next
// Lock counts as acquired. Not re-entrant. The caller skips its guarded
// work when Lock fails. Any thread may Lock; the thread whose Lock succeeded
// calls Unlock. The object is owned by whoever created it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorvel {

namespace platform {
class NamedMutex;
}

class CMutex {
 public:
  static constexpr std::uint32_t kLockTimeoutMs = 5000;

  explicit CMutex(const std::string& name);
  virtual ~CMutex();

  CMutex(const CMutex&) = delete;
  CMutex& operator=(const CMutex&) = delete;

  // False on time-out or when the mutex could not be created.
  bool Lock();
  void Unlock();

  bool IsValid() const;

 private:
  std::unique_ptr<platform::NamedMutex> m_handle;
};

}  // namespace quorvel
