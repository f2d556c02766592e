#include "log_ring.h"

#include <memory>

namespace strevon {
namespace hosttool {

class LogRing::DeviceSink : public IDebugInfoSink {
 public:
  DeviceSink(LogRing& ring, std::string device) : m_ring(ring), m_device(std::move(device)) {}
  void OnDebugInfo(CDebugInfoIf* record) override {
    if (record == nullptr) return;
    const char* text = record->GetText();
    m_ring.Add(record->GetLevel(), m_device, text != nullptr ? text : "");
  }

 private:
  LogRing& m_ring;
  const std::string m_device;
};

LogRing::LogRing(std::size_t capacity) : m_capacity(capacity > 0 ? capacity : 1) {}

LogRing::~LogRing() = default;

IDebugInfoSink* LogRing::SinkFor(const std::string& device) {
  m_sinks.push_back(std::make_unique<DeviceSink>(*this, device));
  return m_sinks.back().get();
}

void LogRing::Add(unsigned level, const std::string& device, const std::string& text) {
  LogEntry entry;
  entry.level = level;
  entry.device = device;
  entry.text = text;
  entry.timeS = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_created).count();
  if (m_echo != nullptr) std::fprintf(m_echo, "[%u] %s\n", level, text.c_str());
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    entry.sequence = ++m_sequence;
    m_entries.push_back(std::move(entry));
    while (m_entries.size() > m_capacity) m_entries.pop_front();
  }
  if (m_listener) m_listener();
}

std::vector<LogEntry> LogRing::Since(std::uint64_t after, std::size_t limit) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::size_t first = m_entries.size();
  while (first > 0 && m_entries[first - 1].sequence > after && m_entries.size() - first < limit) --first;
  return std::vector<LogEntry>(m_entries.begin() + static_cast<std::ptrdiff_t>(first), m_entries.end());
}

std::uint64_t LogRing::LastSequence() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_sequence;
}

}  // namespace hosttool
}  // namespace strevon
