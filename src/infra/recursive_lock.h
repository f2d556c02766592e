// CRecursiveLock: the driver's general re-entrant lock; CLockGuard: its scope.
//
// Guards short sections (queue push and pop, map look-ups) within one
// process. The owner may Enter again and must Leave as often as it entered;
// only the owner may Leave. Built on std::recursive_mutex, which gives the
// observable behaviour the design relies on (re-entrancy, exclusive
// ownership, a parked waiter released on the last Leave) without the
// hand-rolled spin-then-park record and its unguarded owner field.
// The annotations treat it as not re-entrant, which is how it is meant to be
// used outside the few places that need re-entry.
#pragma once

#include <mutex>

#include "infra/thread_annotations.h"

namespace quorvel {

class CAPABILITY("mutex") CRecursiveLock {
 public:
  CRecursiveLock() = default;
  CRecursiveLock(const CRecursiveLock&) = delete;
  CRecursiveLock& operator=(const CRecursiveLock&) = delete;

  void Enter() ACQUIRE() { m_mutex.lock(); }
  void Leave() RELEASE() { m_mutex.unlock(); }
  bool TryEnter() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

 private:
  std::recursive_mutex m_mutex;
};

class SCOPED_CAPABILITY CLockGuard {
 public:
  explicit CLockGuard(CRecursiveLock& lock) ACQUIRE(lock) : m_lock(lock) { m_lock.Enter(); }
  ~CLockGuard() RELEASE() { m_lock.Leave(); }
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;

 private:
  CRecursiveLock& m_lock;
};

}  // namespace quorvel
