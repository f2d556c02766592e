#include "ptz/base_ptz_handler.h"

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

void CBasePTZHandler::ReleaseControls() {
  std::map<std::uint32_t, CBasePTZControl*> controls;
  {
    CLockGuard guard(m_lock);
    controls.swap(m_controls);
  }
  for (auto& entry : controls) delete entry.second;
}

}  // namespace quorvel
