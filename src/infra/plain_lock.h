// CPlainLock: a lock that is not re-entrant, for state a condition variable
// waits on and for short sections on the receiver's path, where the
// re-entrant lock's owner checks cost more than the section; CPlainGuard:
// its scope. The guard lends a waiting std::condition_variable the
// std::unique_lock it needs; the lock is held again whenever a wait
// returns, so the annotations stay true across it.
#pragma once

#include <mutex>

#include "infra/thread_annotations.h"

namespace quorvel {

class CAPABILITY("mutex") CPlainLock {
 public:
  CPlainLock() = default;
  CPlainLock(const CPlainLock&) = delete;
  CPlainLock& operator=(const CPlainLock&) = delete;

  // For a set of locks chosen at run time; a fixed scope takes CPlainGuard.
  void Lock() ACQUIRE() { m_mutex.lock(); }
  void Unlock() RELEASE() { m_mutex.unlock(); }

 private:
  friend class CPlainGuard;
  std::mutex m_mutex;
};

class SCOPED_CAPABILITY CPlainGuard {
 public:
  explicit CPlainGuard(CPlainLock& lock) ACQUIRE(lock) : m_lock(lock.m_mutex) {}
  ~CPlainGuard() RELEASE() {}
  CPlainGuard(const CPlainGuard&) = delete;
  CPlainGuard& operator=(const CPlainGuard&) = delete;

  std::unique_lock<std::mutex>& ForWait() { return m_lock; }

 private:
  std::unique_lock<std::mutex> m_lock;
};

}  // namespace quorvel
