#include "debug_sink.h"

namespace strevon {
namespace host {

void DebugSink::OnDebugInfo(CDebugInfoIf* record) {
  if (record == nullptr) return;
  DebugLine line;
  line.level = record->GetLevel();
  const char* text = record->GetText();
  line.text = text ? text : "";
  if (m_echo != nullptr) std::fprintf(m_echo, "[%u] %s\n", line.level, line.text.c_str());
  {
    std::unique_lock<std::mutex> lock(m_holdMutex);
    if (m_hold == Hold::kArmed && line.text.find(m_holdFragment) != std::string::npos) {
      m_hold = Hold::kHeld;
      m_holdChanged.notify_all();
      m_holdChanged.wait(lock, [&] { return m_hold == Hold::kReleased; });
    }
  }
  m_lines.Add(std::move(line));
}

void DebugSink::HoldNext(const std::string& fragment) {
  std::lock_guard<std::mutex> lock(m_holdMutex);
  m_holdFragment = fragment;
  m_hold = Hold::kArmed;
}

bool DebugSink::WaitHeld(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_holdMutex);
  return m_holdChanged.wait_for(lock, timeout, [&] { return m_hold == Hold::kHeld; });
}

void DebugSink::Release() {
  std::lock_guard<std::mutex> lock(m_holdMutex);
  m_hold = Hold::kReleased;
  m_holdChanged.notify_all();
}

bool DebugSink::WaitForText(const std::string& fragment, std::chrono::milliseconds timeout) const {
  return m_lines.WaitForAny(
      [&](const DebugLine& l) { return l.text.find(fragment) != std::string::npos; }, timeout);
}

bool DebugSink::Contains(const std::string& fragment) const {
  return WaitForText(fragment, std::chrono::milliseconds(0));
}

}  // namespace host
}  // namespace strevon
