// CCallTracker: the calls into registered targets (video channels) that
// are running right now, and a wait until none into a given
// target is, so that the target's owner may destroy it once it has been
// deregistered.
//
// The user keeps its targets in its own map under its own lock. A delivery
// marks its call (Enter) while it still holds that lock and has found the
// target registered, so a concurrent removal either sees the mark or keeps
// the call from starting; the mark goes when the call returns, also by an
// exception (Scope). After taking the target out of its map, the remover
// calls WaitIdle, which returns once no call into the target runs on
// another thread. Calls on the remover's own thread are not waited for: a
// target removed from inside a call into it (a host stopping its channel
// from its frame callback) would wait on itself.
// There is no time-out: returning while a call still runs would let the
// owner free the target under it.
//
// Owned by its user (one per CVideoManager).
// Enter and Leave run on the delivering thread (the Gateway client's
// receiver thread), WaitIdle on whichever thread removes a target. The
// tracker's mutex is taken last: users call Enter holding their own lock,
// and nothing here calls out.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <thread>
#include <vector>

#include "infra/plain_lock.h"

namespace quorvel {

class CCallTracker {
 public:
  // Room for this many concurrent calls is reserved up front, so that a
  // delivery does not allocate in the usual case.
  explicit CCallTracker(std::size_t reserved = 4);
  CCallTracker(const CCallTracker&) = delete;
  CCallTracker& operator=(const CCallTracker&) = delete;

  // Marks a call into key as running on this thread. Calls may nest.
  void Enter(const void* key);
  // Ends one call into key that this thread entered.
  void Leave(const void* key);
  // Until no call into key runs on a thread other than this one.
  void WaitIdle(const void* key);

  // Leaves a call entered before when it goes out of scope.
  class Scope {
   public:
    Scope(CCallTracker& tracker, const void* key) : m_tracker(tracker), m_key(key) {}
    ~Scope() { m_tracker.Leave(m_key); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    CCallTracker& m_tracker;
    const void* const m_key;
  };

 private:
  struct Call {
    const void* key;
    std::thread::id thread;
  };

  CPlainLock m_lock;
  std::condition_variable m_callEnded;
  std::vector<Call> m_calls GUARDED_BY(m_lock);
  // Threads in WaitIdle: a Leave with none wakes nobody, as nearly every
  // frame's does.
  std::size_t m_waiters GUARDED_BY(m_lock) = 0;
};

}  // namespace quorvel
