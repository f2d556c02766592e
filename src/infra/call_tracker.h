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
// Every frame passes here twice, so a mark is one atomic exchange in a
// small set of slots, and the tracker's mutex is taken only by waiters, by
// a Leave that has a waiter to wake, and when more calls run at once than
// there are slots.
//
// Owned by its user (one per CVideoManager and per CGWClient).
// Enter and Leave run on the delivering thread (the Gateway client's
// receiver thread), WaitIdle on whichever thread removes a target. The
// tracker's mutex is taken last: users call Enter holding their own lock,
// and nothing here calls out.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <thread>
#include <vector>

#include "infra/plain_lock.h"

namespace quorvel {

class CCallTracker {
 public:
  CCallTracker() = default;
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
  // A slot is free while its key is null. The thread that claims it writes
  // its id before the key, and only that thread changes it until it frees
  // it again.
  struct Slot {
    std::atomic<const void*> key{nullptr};
    std::atomic<std::thread::id> thread{};
  };
  static constexpr std::size_t kSlots = 4;

  // A call into key on a thread other than me.
  bool RunsElsewhere(const void* key, std::thread::id me) const REQUIRES(m_lock);
  void WakeWaiters();

  std::array<Slot, kSlots> m_slots;
  // Threads in WaitIdle. A Leave reads it after freeing its slot and
  // WaitIdle raises it before looking at the slots (both in one total
  // order), so either the Leave sees the waiter or the waiter sees the slot
  // free.
  std::atomic<std::size_t> m_waiters{0};
  CPlainLock m_lock;
  std::condition_variable m_callEnded;
  // The calls that found every slot taken.
  std::vector<Call> m_overflow GUARDED_BY(m_lock);
};

}  // namespace quorvel
