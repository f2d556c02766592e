// NamedMutex: a lock shared by every thread of every process that uses the
// same name, behind CMutex.
//
// It is an exclusive flock on a lock file of that name in the driver's home
// directory. Every Lock opens a descriptor of its own, so two threads of one
// process exclude each other exactly like two processes do. The lock is
// polled (non-blocking attempts every 2 ms) until the time-out. A process
// that dies while holding it releases it with its descriptors, and the next
// Lock simply acquires it (what other systems report as "abandoned").
// Not re-entrant: a second Lock by the holder waits for itself and fails at
// the time-out. The lock file stays behind; it holds no data.
//
// Any thread may Lock; Unlock is called by the thread whose Lock succeeded.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace quorvel {
namespace platform {

class NamedMutex {
 public:
  // The lock file is DriverHomeDirectory() + name; an empty name or an
  // unknown home directory gives an invalid mutex.
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();

  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  bool IsValid() const { return !m_path.empty(); }
  const std::string& Path() const { return m_path; }

  // True when acquired within timeoutMs.
  bool Lock(std::uint32_t timeoutMs);
  void Unlock();

 private:
  const std::string m_path;       // constant after construction
  std::atomic<int> m_heldFd{-1};  // descriptor of the current holder
};

}  // namespace platform
}  // namespace quorvel
