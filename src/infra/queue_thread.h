// CQueueThread<T>: a thread that hands posted items, one at a time and in
// posting order, to HandleWorkItem.
//
// Ownership: a posted item belongs to the queue, also when the post is
// refused (it is destroyed at once). Items are destroyed after handling.
// Shutdown rule: after Stop the stop event stays signalled, so posts are
// refused until the next Start. PostItemLimited keeps at most 16 items
// waiting by dropping the oldest. Posting comes from any thread; handling
// happens only on the queue's thread, outside the queue lock, so a handler
// may post to its own queue. Exceptions from HandleWorkItem are swallowed.
// Subclasses stop the thread in their destructor, before their members go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

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

  using CBaseThread::GetName;
  using CBaseThread::IsRunning;

  bool Start(const std::string& name) override {
    m_itemEvent.Reset();
    // Items posted before Start (or left by a Stop that did not clear them)
    // would otherwise wait for the next post to wake the loop.
    if (PendingCount() > 0) m_itemEvent.Set();
    return CBaseThread::Start(name);
  }

  // Stops the thread with 5000 ms; pending items are destroyed unhandled.
  bool Stop() {
    StopEvent().Set();
    ClearItems();
    return CBaseThread::Stop(5000);
  }
  bool Stop(std::uint32_t timeoutMs) override { return CBaseThread::Stop(timeoutMs); }

  bool PostItem(T* item) { return Post(item, false); }
  bool PostItemLimited(T* item) { return Post(item, true); }

  // The oldest item, removed from the queue and owned by the caller, or null.
  T* PopItem() {
    CLockGuard guard(m_lock);
    if (m_queue.empty()) return nullptr;
    T* item = m_queue.front();
    m_queue.pop_front();
    return item;
  }

  void ClearItems() {
    CLockGuard guard(m_lock);
    while (!m_queue.empty()) {
      T* item = m_queue.front();
      m_queue.pop_front();
      delete item;
    }
  }

  std::size_t PendingCount() {
    CLockGuard guard(m_lock);
    return m_queue.size();
  }

 protected:
  virtual void HandleWorkItem(T* item) = 0;

 private:
  bool Post(T* item, bool limited) {
    if (IsStopSignalled()) {
      delete item;
      return false;
    }
    CLockGuard guard(m_lock);
    if (limited) {
      while (m_queue.size() > kLimitedQueueSize - 1) {
        T* oldest = m_queue.front();
        m_queue.pop_front();
        delete oldest;
      }
    }
    m_queue.push_back(item);
    m_itemEvent.Set();
    return true;
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
  std::deque<T*> m_queue;
};

}  // namespace quorvel
