#include "infra/call_tracker.h"

#include <algorithm>

namespace quorvel {

namespace {

// Holds a slot between its claim and the store of its key: equal to no key.
const char kClaimed = 0;

}  // namespace

void CCallTracker::Enter(const void* key) {
  const std::thread::id me = std::this_thread::get_id();
  for (Slot& slot : m_slots) {
    const void* expected = nullptr;
    if (slot.key.load(std::memory_order_relaxed) == nullptr &&
        slot.key.compare_exchange_strong(expected, &kClaimed, std::memory_order_acquire)) {
      slot.thread.store(me, std::memory_order_relaxed);
      // The remover sees this through the user's lock, which Enter runs
      // under.
      slot.key.store(key, std::memory_order_release);
      return;
    }
  }
  CPlainGuard guard(m_lock);
  m_overflow.push_back(Call{key, me});
}

void CCallTracker::Leave(const void* key) {
  const std::thread::id me = std::this_thread::get_id();
  for (Slot& slot : m_slots) {
    if (slot.key.load(std::memory_order_acquire) == key &&
        slot.thread.load(std::memory_order_relaxed) == me) {
      slot.key.store(nullptr, std::memory_order_seq_cst);
      if (m_waiters.load(std::memory_order_seq_cst) != 0) WakeWaiters();
      return;
    }
  }
  {
    CPlainGuard guard(m_lock);
    auto it = std::find_if(m_overflow.begin(), m_overflow.end(),
                           [&](const Call& call) { return call.key == key && call.thread == me; });
    if (it != m_overflow.end()) {
      *it = m_overflow.back();
      m_overflow.pop_back();
    }
  }
  if (m_waiters.load(std::memory_order_seq_cst) != 0) m_callEnded.notify_all();
}

void CCallTracker::WakeWaiters() {
  // A waiter holds the lock from its look at the slots until it waits, so
  // taking it here means the waiter either has not looked yet or waits.
  { CPlainGuard guard(m_lock); }
  m_callEnded.notify_all();
}

bool CCallTracker::RunsElsewhere(const void* key, std::thread::id me) const {
  for (const Slot& slot : m_slots) {
    if (slot.key.load(std::memory_order_seq_cst) == key &&
        slot.thread.load(std::memory_order_relaxed) != me) {
      return true;
    }
  }
  return std::any_of(m_overflow.begin(), m_overflow.end(),
                     [&](const Call& call) { return call.key == key && call.thread != me; });
}

void CCallTracker::WaitIdle(const void* key) {
  const std::thread::id me = std::this_thread::get_id();
  CPlainGuard guard(m_lock);
  m_waiters.fetch_add(1, std::memory_order_seq_cst);
  while (RunsElsewhere(key, me)) m_callEnded.wait(guard.ForWait());
  m_waiters.fetch_sub(1, std::memory_order_seq_cst);
}

}  // namespace quorvel
