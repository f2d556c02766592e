// Deadline-bounded waits for tests: a condition is polled until it holds or
// the deadline passes, so a test never sleeps for a fixed time and never
// hangs.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace quorvel {
namespace test_support {

// Polls condition until it holds or timeoutMs passed; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

inline long long ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

}  // namespace test_support
}  // namespace quorvel
