// OsThread: one OS thread running a body function.
//
// The owner starts it once. Join(timeout) waits for the body to end and joins
// the thread; a body that does not end in time is never killed: Join returns
// false and the thread stays with this object, to be joined by a later Join.
// Only the destructor lets a still-running thread go: it then runs on by
// itself on its own shared control block, which also holds the body, and
// the body (with whatever it captured) is released on the thread as soon as
// it returns. A body that may outlive its object must therefore hold
// references of its own to everything it uses.
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
  // it was never started); false when it still runs (it stays with this
  // object) or when called from the thread itself.
  bool Join(std::uint32_t timeoutMs);
  bool IsCurrent() const;
  // True once the body has returned (or the thread was never started).
  bool HasEnded() const;

 private:
  struct ControlBlock;

  std::shared_ptr<ControlBlock> m_control;  // constant after Start
#if defined(_WIN32)
  void* m_thread = nullptr;  // owner thread only: the thread's HANDLE until joined
#else
  std::thread m_thread;  // owner thread only
#endif
};

}  // namespace platform
}  // namespace quorvel
