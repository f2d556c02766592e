#include "infra/base_thread.h"

#include <new>

#include "infra/platform/os_thread.h"

namespace quorvel {

namespace {

constexpr std::uint32_t kDestructorStopTimeoutMs = 2000;

}  // namespace

CBaseThread::CBaseThread() = default;

CBaseThread::~CBaseThread() { Stop(kDestructorStopTimeoutMs); }

bool CBaseThread::Start(const std::string& name) {
  // A refused Start leaves the stop event alone: a thread that overstays a
  // Stop must still see that stop when it gets back to its loop.
  if (m_thread && !m_thread->HasEnded()) return false;
  m_thread.reset();  // joins an ended thread
  m_stopEvent.Reset();
  try {
    if (&name != &m_name) m_name = name;
    // Stored before the thread exists, so that the thread itself can ask
    // IsCurrentThread (and refuse its own Stop) from its first instruction.
    m_thread.reset(new platform::OsThread());
    if (m_thread->Start([this, keep = m_keepAlive.lock()]() { ThreadFunction(); }, m_name)) {
      return true;
    }
  } catch (...) {
    // Allocation failed: no thread.
  }
  m_thread.reset();
  return false;
}

bool CBaseThread::Stop(std::uint32_t timeoutMs) {
  m_stopEvent.Set();
  if (!m_thread) return true;
  if (m_thread->IsCurrent()) return false;
  if (!m_thread->Join(timeoutMs)) return false;
  m_thread.reset();
  return true;
}

bool CBaseThread::IsRunning() const { return m_thread && !m_thread->HasEnded(); }

bool CBaseThread::IsCurrentThread() const { return m_thread && m_thread->IsCurrent(); }

}  // namespace quorvel
