// NamedMutex: a lock shared by every thread of every process that uses the
// same name, behind CMutex.
//
// On Windows it is the kernel mutex of that name (CreateMutexA); Path() is
// the name. A holder that died leaves it abandoned, and the next Lock takes
// it. A kernel mutex belongs to the thread that locked it, and that thread
// may lock it again: the log never does.
//
// Elsewhere it is an exclusive flock on a lock file of that name in the driver's home
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

#if defined(_WIN32)
  bool IsValid() const { return m_handle != nullptr; }
#else
  bool IsValid() const { return !m_path.empty(); }
#endif
  const std::string& Path() const { return m_path; }

  // True when acquired within timeoutMs.
  bool Lock(std::uint32_t timeoutMs);
  void Unlock();

 private:
  const std::string m_path;  // constant after construction
#if defined(_WIN32)
  void* const m_handle;  // the mutex HANDLE, null when invalid; constant after construction
#else
  std::atomic<int> m_heldFd{-1};  // descriptor of the current holder
#endif
};

}  // namespace platform
}  // namespace quorvel
