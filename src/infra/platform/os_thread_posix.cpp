#include "infra/platform/os_thread.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

namespace quorvel {
namespace platform {

namespace {
// Linux keeps 16 bytes of a thread's name, the terminating NUL included.
constexpr std::size_t kMaxOsNameLength = 15;
}  // namespace

struct OsThread::ControlBlock {
  std::function<void()> body;
  mutable std::mutex mutex;
  std::condition_variable endedSignal;
  std::thread::id id;  // guarded by mutex; set by the thread before the body runs
  bool ended = false;  // guarded by mutex
};

OsThread::OsThread() = default;

OsThread::~OsThread() {
  if (!m_thread.joinable()) return;
  if (HasEnded() && !IsCurrent()) {
    m_thread.join();
  } else {
    m_thread.detach();
  }
}

bool OsThread::Start(std::function<void()> body, const std::string& name) {
  if (m_control) return false;
  try {
    auto control = std::make_shared<ControlBlock>();
    control->body = std::move(body);
    m_control = control;
    m_thread = std::thread([control, osName = name.substr(0, kMaxOsNameLength)]() {
      if (!osName.empty()) pthread_setname_np(pthread_self(), osName.c_str());
      {
        std::lock_guard<std::mutex> guard(control->mutex);
        control->id = std::this_thread::get_id();
      }
      try {
        control->body();
      } catch (...) {
        // Nothing may leave a thread's entry routine.
      }
      // The body may own resources that other threads wait for; release
      // them before announcing the end.
      control->body = nullptr;
      std::lock_guard<std::mutex> guard(control->mutex);
      control->ended = true;
      control->endedSignal.notify_all();
    });
    return true;
  } catch (...) {
    m_control.reset();
    return false;
  }
}

bool OsThread::Join(std::uint32_t timeoutMs) {
  if (!m_thread.joinable()) return true;
  if (IsCurrent()) return false;
  bool ended;
  {
    std::unique_lock<std::mutex> lock(m_control->mutex);
    auto hasEnded = [this]() { return m_control->ended; };
    if (timeoutMs == kInfiniteWait) {
      m_control->endedSignal.wait(lock, hasEnded);
    } else {
      m_control->endedSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), hasEnded);
    }
    ended = m_control->ended;
  }
  if (!ended) return false;
  m_thread.join();
  return true;
}

bool OsThread::IsCurrent() const {
  if (!m_control) return false;
  std::lock_guard<std::mutex> guard(m_control->mutex);
  return !m_control->ended && m_control->id == std::this_thread::get_id();
}

bool OsThread::HasEnded() const {
  if (!m_control) return true;
  std::lock_guard<std::mutex> guard(m_control->mutex);
  return m_control->ended;
}

}  // namespace platform
}  // namespace quorvel
