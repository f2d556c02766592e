// OsThread: one OS thread running a body function.
//
// The owner starts it once and either joins it or lets it go: Join(timeout)
// waits for the body to end and joins the thread; when the body does not end
// in time the thread is detached, never killed, and keeps running on its own
// shared control block (which also holds the body), so neither this object
// nor its destruction touches the thread again. A detached body must not use
// anything whose lifetime the owner ends.
//
// The owner thread calls Start, Join and the destructor; IsCurrent and
// HasEnded may be called from any thread, including the started one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace quorvel {
namespace platform {

class OsThread {
 public:
  static constexpr std::uint32_t kInfiniteWait = 0xFFFFFFFFu;

  OsThread();
  // Joins an ended thread, detaches one that still runs.
  ~OsThread();

  OsThread(const OsThread&) = delete;
  OsThread& operator=(const OsThread&) = delete;

  // False when a thread was already started or the OS refused a new one.
  // Exceptions escaping the body are swallowed on the thread. A name, when
  // given, is what the OS shows for the thread (debuggers, top -H; cut to
  // 15 characters on Linux).
  bool Start(std::function<void()> body, const std::string& name = std::string());
  // True when the thread ended within timeoutMs and was joined (also when
  // it was never started); false when it was detached instead, or when
  // called from the thread itself.
  bool Join(std::uint32_t timeoutMs);
  bool IsCurrent() const;
  // True once the body has returned (or the thread was never started).
  bool HasEnded() const;

 private:
  struct ControlBlock;

  std::shared_ptr<ControlBlock> m_control;  // constant after Start
  std::thread m_thread;                     // owner thread only
};

}  // namespace platform
}  // namespace quorvel
