#include "infra/platform/os_thread.h"

#include <process.h>
#include <windows.h>

#include <atomic>

namespace quorvel {
namespace platform {

struct OsThread::ControlBlock {
  std::function<void()> body;
  std::atomic<DWORD> id{0};  // set by the thread before the body runs
  std::atomic<bool> ended{false};
};

namespace {

// Runs the thread's whole routine, handed over on the heap; it holds the
// thread's own reference to the control block.
unsigned __stdcall ThreadEntry(void* argument) {
  std::function<void()>* routine = static_cast<std::function<void()>*>(argument);
  try {
    (*routine)();
  } catch (...) {
    // Nothing may leave a thread's entry routine.
  }
  delete routine;
  return 0;
}

}  // namespace

OsThread::OsThread() = default;

OsThread::~OsThread() {
  // Closing the handle never stops the thread: one that still runs goes on
  // alone on its control block.
  if (m_thread != nullptr) CloseHandle(static_cast<HANDLE>(m_thread));
}

bool OsThread::Start(std::function<void()> body, const std::string& /*name*/) {
  if (m_control) return false;
  std::function<void()>* record = nullptr;
  try {
    auto control = std::make_shared<ControlBlock>();
    control->body = std::move(body);
    record = new std::function<void()>([control] {
      control->id.store(GetCurrentThreadId());
      try {
        control->body();
      } catch (...) {
        // Nothing may leave a thread's entry routine.
      }
      // The body may own resources that other threads wait for; release
      // them before announcing the end.
      control->body = nullptr;
      control->ended.store(true);
    });
    // _beginthreadex rather than CreateThread: the C runtime sets up its
    // per-thread data for the body.
    const std::uintptr_t handle = _beginthreadex(nullptr, 0, &ThreadEntry, record, 0, nullptr);
    if (handle == 0) {
      delete record;
      return false;
    }
    m_control = std::move(control);
    m_thread = reinterpret_cast<void*>(handle);
    return true;
  } catch (...) {
    delete record;
    return false;
  }
}

bool OsThread::Join(std::uint32_t timeoutMs) {
  if (m_thread == nullptr) return true;
  if (IsCurrent()) return false;
  if (WaitForSingleObject(static_cast<HANDLE>(m_thread), timeoutMs) != WAIT_OBJECT_0) return false;
  CloseHandle(static_cast<HANDLE>(m_thread));
  m_thread = nullptr;
  return true;
}

bool OsThread::IsCurrent() const {
  if (!m_control) return false;
  return !m_control->ended.load() && m_control->id.load() == GetCurrentThreadId();
}

bool OsThread::HasEnded() const { return !m_control || m_control->ended.load(); }

}  // namespace platform
}  // namespace quorvel
