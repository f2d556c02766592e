// WaitableEvent: the OS event behind CEvent.
//
// Auto reset: one Set releases exactly one waiter (the longest waiting one)
// and leaves the event unsignalled; with nobody waiting the event stays
// signalled until one Wait consumes it. Manual reset: Set releases every
// waiter and the event stays signalled until Reset.
//
// On Windows this is a kernel event and WaitForEither is
// WaitForMultipleObjects. Elsewhere each event keeps its own state; a wait on two events registers one shared
// waiter record with both, and whichever Set reaches the record first wins
// it, so a signal is never lost and an auto-reset signal is never consumed
// by a waiter that already returned for the other event.
//
// Any thread may call any method. The owner must not destroy the event
// while another thread still waits on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "infra/plain_lock.h"

namespace quorvel {
namespace platform {

class WaitableEvent {
 public:
  static constexpr std::uint32_t kInfiniteWait = 0xFFFFFFFFu;

  explicit WaitableEvent(bool manualReset);
  ~WaitableEvent();

  WaitableEvent(const WaitableEvent&) = delete;
  WaitableEvent& operator=(const WaitableEvent&) = delete;

  void Set();
  void Reset();
  // True when the event was (or became) signalled within timeoutMs.
  bool Wait(std::uint32_t timeoutMs);
  // Waits for either event: 0 or 1 for the one that fired (the first when
  // both are signalled), -1 on time-out.
  static int WaitForEither(WaitableEvent& first, WaitableEvent& second, std::uint32_t timeoutMs);

 private:
#if defined(_WIN32)
  // The kernel event (a HANDLE); null when it could not be created, and
  // then every wait times out. Constant after construction.
  void* const m_handle;
#else
  struct Waiter;
  struct Registration {
    std::shared_ptr<Waiter> waiter;
    int index;
  };

  // Takes the locks of a set of events chosen at run time, which the
  // analysis cannot follow.
  static int WaitMany(WaitableEvent* const* events, int count, std::uint32_t timeoutMs)
      NO_THREAD_SAFETY_ANALYSIS;
  static void LockAll(WaitableEvent* const* ordered, int count) NO_THREAD_SAFETY_ANALYSIS;
  static void UnlockAll(WaitableEvent* const* ordered, int count) NO_THREAD_SAFETY_ANALYSIS;
  // Consumes the signal of an auto-reset event.
  bool TakeSignalLocked() REQUIRES(m_lock);
  void RemoveLocked(const Waiter* waiter) REQUIRES(m_lock);

  const bool m_manualReset;
  CPlainLock m_lock;
  bool m_signalled GUARDED_BY(m_lock) = false;
  // m_signalled as last written (under m_lock), read without the lock by a
  // zero time-out poll, so that a thread that checks its stop event between
  // every read of a busy stream takes no lock while it is unset.
  std::atomic<bool> m_signalledHint{false};
  std::vector<Registration> m_waiters GUARDED_BY(m_lock);  // oldest first
#endif
};

}  // namespace platform
}  // namespace quorvel
