// CHostCallGate: lets a capability fetch call the host only while the
// module that started it still stands behind it.
//
// A fetch that outlasts the module's destruction is abandoned, not killed:
// its thread runs on, but once the gate is closed it must not call the
// host's notifier or result sink again, because the host may already have
// freed them. Every host call of the fetching thread is bracketed by a
// CHostCallGate::Call, which is refused once Close has run. Close waits a
// short grace for a call that has already been let through, so that a call
// cannot start after Close has returned unless it was stuck in the host
// before Close began.
//
// Shared (std::shared_ptr) by the module and the fetching thread, so it
// outlives whichever of the two ends last. Call runs on the fetching thread,
// Close on the thread that destroys the module. The host call itself is
// made outside the mutex.
#pragma once

#include <condition_variable>
#include <cstdint>

#include "infra/plain_lock.h"

namespace quorvel {

class CHostCallGate {
 public:
  // How long Close waits for a host call already under way.
  static constexpr std::uint32_t kCloseGraceMs = 500;

  CHostCallGate() = default;
  CHostCallGate(const CHostCallGate&) = delete;
  CHostCallGate& operator=(const CHostCallGate&) = delete;

  // One host call: IsOpen says whether the caller may make it.
  class Call {
   public:
    explicit Call(CHostCallGate& gate);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    bool IsOpen() const { return m_open; }

   private:
    CHostCallGate& m_gate;
    bool m_open;
  };

  // Refuses every later call; waits up to graceMs for calls let through
  // before. True when none was left under way.
  bool Close(std::uint32_t graceMs = kCloseGraceMs);
  bool IsClosed() const;

 private:
  bool Enter() EXCLUDES(m_lock);
  void Leave() EXCLUDES(m_lock);

  mutable CPlainLock m_lock;
  std::condition_variable m_idle;
  bool m_closed GUARDED_BY(m_lock) = false;
  int m_callsUnderWay GUARDED_BY(m_lock) = 0;
};

}  // namespace quorvel
