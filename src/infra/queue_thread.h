// CQueueThread<T>: a thread that hands posted items, one at a time and in
// posting order, to HandleWorkItem.
//
// Ownership: a posted item belongs to the queue, also when the post is
// refused (it is destroyed at once). Items are destroyed after handling.
// Shutdown rule: after Stop the stop event stays signalled, so posts are
// refused until the next Start. Back-pressure: PostItemLimited keeps at
// most 16 items waiting by dropping the oldest; PostItemBounded refuses the
// new item once the waiting items reach a count or a total cost (the
// item being handled no longer counts). Posting comes from any thread; handling
// happens only on the queue's thread, outside the queue lock, so a handler
// may post to its own queue. Exceptions from HandleWorkItem are swallowed.
// Subclasses stop the thread in their destructor, before their members go.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "infra/base_thread.h"
#include "infra/event.h"
#include "infra/recursive_lock.h"

namespace quorvel {

template <typename T>
class CQueueThread : private CBaseThread {
 public:
  static constexpr std::size_t kLimitedQueueSize = 16;

  CQueueThread() : m_itemEvent(false) {}
  ~CQueueThread() override {
    CBaseThread::Stop(5000);
    ClearItems();
  }

  enum class PostResult { kQueued, kStopped, kFull };

  using CBaseThread::GetName;
  using CBaseThread::IsCurrentThread;
  using CBaseThread::IsRunning;
  using CBaseThread::SetKeepAlive;

  bool Start(const std::string& name) override {
    // A thread that overstayed its stop still runs this loop: its events
    // must stay as they are.
    if (IsRunning()) return false;
    m_itemEvent.Reset();
    // Items posted before Start (or left by a Stop that did not clear them)
    // would otherwise wait for the next post to wake the loop.
    if (PendingCount() > 0) m_itemEvent.Set();
    return CBaseThread::Start(name);
  }

  // Stops the thread with 5000 ms; pending items are destroyed unhandled.
  bool Stop() { return StopDiscarding(5000); }
  // The same with timeoutMs; false while the thread still runs.
  bool StopDiscarding(std::uint32_t timeoutMs) {
    StopEvent().Set();
    ClearItems();
    return CBaseThread::Stop(timeoutMs);
  }
  bool Stop(std::uint32_t timeoutMs) override { return CBaseThread::Stop(timeoutMs); }

  bool PostItem(T* item) { return Post(item, false) == PostResult::kQueued; }
  bool PostItemLimited(T* item) { return Post(item, true) == PostResult::kQueued; }
  // Refused (kFull, item destroyed) while maxCount items wait, or when cost
  // would bring the waiting items' total above maxCost; an item alone in
  // the queue is never refused for its cost.
  PostResult PostItemBounded(T* item, std::size_t cost, std::size_t maxCount,
                             std::size_t maxCost) {
    return Post(item, false, cost, maxCount, maxCost);
  }

  // The oldest item, removed from the queue and owned by the caller, or null.
  T* PopItem() {
    CLockGuard guard(m_lock);
    if (m_queue.empty()) return nullptr;
    const Entry entry = m_queue.front();
    m_queue.pop_front();
    m_queuedCost -= entry.cost;
    return entry.item;
  }

  void ClearItems() {
    CLockGuard guard(m_lock);
    while (!m_queue.empty()) {
      T* item = m_queue.front().item;
      m_queue.pop_front();
      delete item;
    }
    m_queuedCost = 0;
  }

  std::size_t PendingCount() {
    CLockGuard guard(m_lock);
    return m_queue.size();
  }

 protected:
  virtual void HandleWorkItem(T* item) = 0;

 private:
  struct Entry {
    T* item;
    std::size_t cost;
  };

  PostResult Post(T* item, bool limited, std::size_t cost = 0, std::size_t maxCount = 0,
                  std::size_t maxCost = 0) {
    if (IsStopSignalled()) {
      delete item;
      return PostResult::kStopped;
    }
    CLockGuard guard(m_lock);
    if (limited) {
      while (m_queue.size() > kLimitedQueueSize - 1) {
        T* oldest = m_queue.front().item;
        m_queue.pop_front();
        delete oldest;
      }
    }
    if (maxCount > 0 && (m_queue.size() >= maxCount ||
                         (!m_queue.empty() && cost > maxCost - std::min(maxCost, m_queuedCost)))) {
      delete item;
      return PostResult::kFull;
    }
    m_queue.push_back(Entry{item, cost});
    m_queuedCost += cost;
    m_itemEvent.Set();
    return PostResult::kQueued;
  }

  void ThreadFunction() override {
    for (;;) {
      if (IsStopSignalled()) return;
      CEvent* events[2] = {&StopEvent(), &m_itemEvent};
      if (CEvent::WaitForEither(events) != 1) continue;
      for (T* item = PopItem(); item != nullptr; item = PopItem()) {
        if (IsStopSignalled()) {
          delete item;
          break;
        }
        try {
          HandleWorkItem(item);
        } catch (...) {
          // A failing handler must not end the queue.
        }
        delete item;
      }
    }
  }

  CEvent m_itemEvent;
  CRecursiveLock m_lock;
  std::deque<Entry> m_queue GUARDED_BY(m_lock);
  std::size_t m_queuedCost GUARDED_BY(m_lock) = 0;
};

}  // namespace quorvel
