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

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

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

  static int WaitMany(WaitableEvent* const* events, int count, std::uint32_t timeoutMs);
  // Requires m_mutex. Consumes the signal of an auto-reset event.
  bool TakeSignalLocked();
  void RemoveLocked(const Waiter* waiter);

  const bool m_manualReset;
  std::mutex m_mutex;
  bool m_signalled = false;                // guarded by m_mutex
  std::vector<Registration> m_waiters;     // guarded by m_mutex, oldest first
#endif
};

}  // namespace platform
}  // namespace quorvel
