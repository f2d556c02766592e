// CRecursiveLock: the driver's general re-entrant lock; CLockGuard: its scope.
//
// Guards short sections (queue push and pop, map look-ups) within one
// process. The owner may Enter again and must Leave as often as it entered;
// only the owner may Leave. Built on std::recursive_mutex, which gives the
// observable behaviour the design relies on (re-entrancy, exclusive
// ownership, a parked waiter released on the last Leave) without the
// hand-rolled spin-then-park record and its unguarded owner field.
#pragma once

#include <mutex>

namespace quorvel {

class CRecursiveLock {
 public:
  CRecursiveLock() = default;
  CRecursiveLock(const CRecursiveLock&) = delete;
  CRecursiveLock& operator=(const CRecursiveLock&) = delete;

  void Enter() { m_mutex.lock(); }
  void Leave() { m_mutex.unlock(); }
  bool TryEnter() { return m_mutex.try_lock(); }

 private:
  std::recursive_mutex m_mutex;
};

class CLockGuard {
 public:
  explicit CLockGuard(CRecursiveLock* lock) : m_lock(lock) {
    if (m_lock) m_lock->Enter();
  }
  explicit CLockGuard(CRecursiveLock& lock) : CLockGuard(&lock) {}
  ~CLockGuard() {
    if (m_lock) m_lock->Leave();
  }
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;

 private:
  CRecursiveLock* m_lock;
};

}  // namespace quorvel
