#include "ptz/base_ptz_handler.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace quorvel {

CBasePTZHandler::CBasePTZHandler(IDriver* driver, std::uint32_t channelCount)
    : m_driver(driver), m_channelCount(channelCount) {}

CBasePTZHandler::~CBasePTZHandler() { CBasePTZHandler::ReleaseControls(); }

IIPPTZApiEx* CBasePTZHandler::GetPTZApiEx(std::uint32_t channel) {
  if (channel >= m_channelCount) return nullptr;
  try {
    CLockGuard guard(m_lock);
    const auto found = m_controls.find(channel);
    if (found != m_controls.end() && found->second != nullptr) return found->second;
    CBasePTZControl* control = CreateControl(channel);
    if (control == nullptr) return nullptr;
    control->SetKeepAlive(m_keepAlive);
    if (!control->OpenComm()) {
      delete control;
      return nullptr;
    }
    m_controls[channel] = control;
    return control;
  } catch (...) {
    return nullptr;
  }
}

bool CBasePTZHandler::StopThreads(std::uint32_t timeoutMs) {
  CLockGuard guard(m_lock);
  // Every stop is asked for before the first wait, so that threads stuck
  // together end together and the waits do not add up.
  for (auto& entry : m_controls) entry.second->StopComm(0);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool ended = true;
  for (auto& entry : m_controls) {
    const std::chrono::milliseconds left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const std::uint32_t waitMs =
        static_cast<std::uint32_t>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    ended = entry.second->StopComm(waitMs) && ended;
  }
  return ended;
}

void CBasePTZHandler::ReleaseControls() {
  std::map<std::uint32_t, CBasePTZControl*> controls;
  {
    CLockGuard guard(m_lock);
    controls.swap(m_controls);
  }
  for (auto& entry : controls) delete entry.second;
}

}  // namespace quorvel
