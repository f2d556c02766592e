// InterruptWatcher: turns Ctrl-C (SIGINT) and SIGTERM into a request to
// stop that the main loop can wait on, so a command ends cleanly (channels
// stopped, files written, driver closed) instead of dying mid-frame. One per
// process, created on the main thread before any driver thread exists; the
// signals are blocked in every thread and read through a signalfd.
#pragma once

#include <chrono>

namespace strevon {
namespace hosttool {

class InterruptWatcher {
 public:
  InterruptWatcher();
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  // Waits up to timeout; true once a stop was requested (and from then on).
  bool WaitFor(std::chrono::milliseconds timeout);
  bool Requested() const { return m_requested; }

 private:
  int m_fd = -1;
  bool m_requested = false;
};

}  // namespace hosttool
}  // namespace strevon
