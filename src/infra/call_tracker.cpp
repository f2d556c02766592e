#include "infra/call_tracker.h"

#include <algorithm>

namespace quorvel {

CCallTracker::CCallTracker(std::size_t reserved) { m_calls.reserve(reserved); }

void CCallTracker::Enter(const void* key) {
  CPlainGuard guard(m_lock);
  m_calls.push_back(Call{key, std::this_thread::get_id()});
}

void CCallTracker::Leave(const void* key) {
  bool waited = false;
  {
    CPlainGuard guard(m_lock);
    waited = m_waiters != 0;
    const std::thread::id me = std::this_thread::get_id();
    auto it = std::find_if(m_calls.begin(), m_calls.end(),
                           [&](const Call& call) { return call.key == key && call.thread == me; });
    if (it != m_calls.end()) {
      *it = m_calls.back();
      m_calls.pop_back();
    }
  }
  if (waited) m_callEnded.notify_all();
}

void CCallTracker::WaitIdle(const void* key) {
  const std::thread::id me = std::this_thread::get_id();
  CPlainGuard guard(m_lock);
  while (std::any_of(m_calls.begin(), m_calls.end(),
                     [&](const Call& call) { return call.key == key && call.thread != me; })) {
    ++m_waiters;
    m_callEnded.wait(guard.ForWait());
    --m_waiters;
  }
}

}  // namespace quorvel
