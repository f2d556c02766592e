#include "infra/platform/waitable_event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quorvel {
namespace platform {

// One blocked Wait. Lock order: an event's m_lock, then the waiter's mutex.
struct WaitableEvent::Waiter {
  std::mutex mutex;
  std::condition_variable wake;
  int firedIndex = -1;  // guarded by mutex; set once by the winning Set

  // True when this call won the waiter for the event at index.
  bool Fire(int index) {
    std::lock_guard<std::mutex> guard(mutex);
    if (firedIndex >= 0) return false;
    firedIndex = index;
    wake.notify_one();
    return true;
  }
};

WaitableEvent::WaitableEvent(bool manualReset) : m_manualReset(manualReset) {}

WaitableEvent::~WaitableEvent() = default;

void WaitableEvent::Set() {
  CPlainGuard guard(m_lock);
  if (m_manualReset) {
    m_signalled = true;
    m_signalledHint.store(true, std::memory_order_release);
    for (Registration& r : m_waiters) r.waiter->Fire(r.index);
    m_waiters.clear();
    return;
  }
  // Auto reset: hand the signal to the oldest waiter that still wants one.
  // Waiters already won by their other event are dropped on the way.
  while (!m_waiters.empty()) {
    Registration r = std::move(m_waiters.front());
    m_waiters.erase(m_waiters.begin());
    if (r.waiter->Fire(r.index)) return;
  }
  m_signalled = true;
  m_signalledHint.store(true, std::memory_order_release);
}

void WaitableEvent::Reset() {
  CPlainGuard guard(m_lock);
  m_signalled = false;
  m_signalledHint.store(false, std::memory_order_release);
}

bool WaitableEvent::TakeSignalLocked() {
  if (!m_signalled) return false;
  if (!m_manualReset) {
    m_signalled = false;
    m_signalledHint.store(false, std::memory_order_release);
  }
  return true;
}

void WaitableEvent::RemoveLocked(const Waiter* waiter) {
  m_waiters.erase(std::remove_if(m_waiters.begin(), m_waiters.end(),
                                 [waiter](const Registration& r) { return r.waiter.get() == waiter; }),
                  m_waiters.end());
}

bool WaitableEvent::Wait(std::uint32_t timeoutMs) {
  // A poll that finds the event unset is over without the lock; one that
  // races a Set is answered as if it came just before it.
  if (timeoutMs == 0 && !m_signalledHint.load(std::memory_order_acquire)) return false;
  WaitableEvent* self = this;
  return WaitMany(&self, 1, timeoutMs) == 0;
}

int WaitableEvent::WaitForEither(WaitableEvent& first, WaitableEvent& second,
                                 std::uint32_t timeoutMs) {
  if (&first == &second) return first.Wait(timeoutMs) ? 0 : -1;
  WaitableEvent* events[2] = {&first, &second};
  return WaitMany(events, 2, timeoutMs);
}

void WaitableEvent::LockAll(WaitableEvent* const* ordered, int count) {
  for (int i = 0; i < count; ++i) ordered[i]->m_lock.Lock();
}

void WaitableEvent::UnlockAll(WaitableEvent* const* ordered, int count) {
  for (int i = count - 1; i >= 0; --i) ordered[i]->m_lock.Unlock();
}

int WaitableEvent::WaitMany(WaitableEvent* const* events, int count, std::uint32_t timeoutMs) {
  // Locks are taken in address order so that two multi-waits on the same
  // pair of events cannot deadlock.
  WaitableEvent* ordered[2] = {events[0], count > 1 ? events[1] : nullptr};
  if (count > 1 && ordered[1] < ordered[0]) std::swap(ordered[0], ordered[1]);
  auto lockAll = [&]() { LockAll(ordered, count); };
  auto unlockAll = [&]() { UnlockAll(ordered, count); };

  std::shared_ptr<Waiter> waiter;
  lockAll();
  for (int i = 0; i < count; ++i) {
    if (events[i]->TakeSignalLocked()) {
      unlockAll();
      return i;
    }
  }
  if (timeoutMs == 0) {
    unlockAll();
    return -1;
  }
  try {
    waiter = std::make_shared<Waiter>();
    for (int i = 0; i < count; ++i) events[i]->m_waiters.push_back(Registration{waiter, i});
  } catch (...) {
    for (int i = 0; i < count; ++i) events[i]->RemoveLocked(waiter.get());
    unlockAll();
    return -1;
  }
  unlockAll();

  {
    std::unique_lock<std::mutex> lock(waiter->mutex);
    auto fired = [&]() { return waiter->firedIndex >= 0; };
    if (timeoutMs == kInfiniteWait) {
      waiter->wake.wait(lock, fired);
    } else {
      waiter->wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), fired);
    }
    if (waiter->firedIndex >= 0) {
      const int index = waiter->firedIndex;
      lock.unlock();
      // A manual-reset Set already removed us; the other event may still
      // hold the record.
      lockAll();
      for (int i = 0; i < count; ++i) events[i]->RemoveLocked(waiter.get());
      unlockAll();
      return index;
    }
  }

  // Timed out: withdraw, then look once more, because a Set may have won the
  // record between the time-out and the withdrawal and its signal is ours.
  lockAll();
  for (int i = 0; i < count; ++i) events[i]->RemoveLocked(waiter.get());
  unlockAll();
  std::lock_guard<std::mutex> guard(waiter->mutex);
  return waiter->firedIndex;
}

}  // namespace platform
}  // namespace quorvel
