#include "capability/host_call_gate.h"

#include <chrono>

namespace quorvel {

CHostCallGate::Call::Call(CHostCallGate& gate) : m_gate(gate), m_open(gate.Enter()) {}

CHostCallGate::Call::~Call() {
  if (m_open) m_gate.Leave();
}

bool CHostCallGate::Enter() {
  CPlainGuard guard(m_lock);
  if (m_closed) return false;
  ++m_callsUnderWay;
  return true;
}

void CHostCallGate::Leave() {
  {
    CPlainGuard guard(m_lock);
    --m_callsUnderWay;
  }
  m_idle.notify_all();
}

bool CHostCallGate::Close(std::uint32_t graceMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  CPlainGuard guard(m_lock);
  m_closed = true;
  while (m_callsUnderWay != 0) {
    if (m_idle.wait_until(guard.ForWait(), deadline) == std::cv_status::timeout) {
      return m_callsUnderWay == 0;
    }
  }
  return true;
}

bool CHostCallGate::IsClosed() const {
  CPlainGuard guard(m_lock);
  return m_closed;
}

}  // namespace quorvel
