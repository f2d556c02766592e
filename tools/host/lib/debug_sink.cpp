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
  m_lines.Add(std::move(line));
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
