// WaitableLog<T>: a thread-safe record of what the driver called, in order,
// with waits that end on a predicate or a deadline. The driver calls the
// host from its own threads; tests and the host tool read from theirs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace strevon {
namespace host {

template <typename T>
class WaitableLog {
 public:
  void Add(T entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(std::move(entry));
    // Under the lock: a waiter that wakes may destroy the log at once.
    m_changed.notify_all();
  }

  std::vector<T> Snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
  }

  std::size_t Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
  }

  // Waits until the whole record satisfies pred; false at the deadline.
  bool WaitFor(const std::function<bool(const std::vector<T>&)>& pred,
               std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return pred(m_entries); });
  }

  // Waits until some entry satisfies pred.
  bool WaitForAny(const std::function<bool(const T&)>& pred,
                  std::chrono::milliseconds timeout) const {
    return WaitFor(
        [&](const std::vector<T>& all) {
          for (const T& e : all) {
            if (pred(e)) return true;
          }
          return false;
        },
        timeout);
  }

  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitFor([&](const std::vector<T>& all) { return all.size() >= count; }, timeout);
  }

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<T> m_entries;
};

}  // namespace host
}  // namespace strevon
