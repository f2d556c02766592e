#include "log_counter.h"

namespace strevon {
namespace soak {

void LogCounter::OnDebugInfo(CDebugInfoIf* record) {
  if (record == nullptr) return;
  const unsigned level = record->GetLevel();
  ++m_counts[level >= 1 && level <= 4 ? level : 0];
  if (level != 1) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_firstErrors.size() < kKeptErrors) {
    const char* text = record->GetText();
    m_firstErrors.emplace_back(text != nullptr ? text : "");
  }
}

std::uint64_t LogCounter::Count(unsigned level) const {
  return m_counts[level >= 1 && level <= 4 ? level : 0].load();
}

std::vector<std::string> LogCounter::FirstErrors() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_firstErrors;
}

}  // namespace soak
}  // namespace strevon
