#include "live_view.h"

namespace strevon {
namespace hosttool {

LiveView::LiveView(DriverSession& session, std::uint32_t channel)
    : m_session(session), m_monitor("ch" + std::to_string(channel), "", channel, nullptr, 0) {}

LiveView::~LiveView() { Stop(); }

bool LiveView::StartAndWait(std::chrono::milliseconds timeout, std::string* error) {
  if (!m_session.CheckChannel(m_monitor.Channel(), error)) return false;
  m_video = m_session.Video(error);
  if (m_video == nullptr) return false;
  if (!m_video->StartChannel(m_monitor.Channel(), m_monitor.Handler(), m_monitor.Setup())) {
    *error = "StartChannel(" + std::to_string(m_monitor.Channel()) + ") returned false";
    return false;
  }
  m_running = true;
  m_monitor.MarkStarted(true);
  host::FrameHandler* handler = static_cast<host::FrameHandler*>(m_monitor.Handler());
  if (!handler->WaitForFrames(1, timeout)) {
    *error = "no video from " + m_session.Device().endpoint.ToString() + " within " +
             std::to_string(timeout.count() / 1000) + " s: " + m_session.Diagnose();
    return false;
  }
  return true;
}

void LiveView::Stop() {
  if (m_running && m_video != nullptr) m_video->StopChannel(m_monitor.Channel());
  m_running = false;
}

}  // namespace hosttool
}  // namespace strevon
