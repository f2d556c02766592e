#include "capability/host_call_gate.h"

#include <chrono>

namespace quorvel {

CHostCallGate::Call::Call(CHostCallGate& gate) : m_gate(gate), m_open(gate.Enter()) {}

CHostCallGate::Call::~Call() {
  if (m_open) m_gate.Leave();
}

bool CHostCallGate::Enter() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_closed) return false;
  ++m_callsUnderWay;
  return true;
}

void CHostCallGate::Leave() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_callsUnderWay;
  }
  m_idle.notify_all();
}

bool CHostCallGate::Close(std::uint32_t graceMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_closed = true;
  return m_idle.wait_for(lock, std::chrono::milliseconds(graceMs),
                         [this] { return m_callsUnderWay == 0; });
}

bool CHostCallGate::IsClosed() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_closed;
}

}  // namespace quorvel
