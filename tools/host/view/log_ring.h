// LogRing: the view's debug sink. Keeps the driver's latest log lines (a
// bounded ring: the view runs for days, the test host's sink keeps every
// line) with a running sequence number, so each page reads what it has not
// seen yet. Optionally echoes every line to a stream (-v). OnDebugInfo is
// called on any driver thread; the readers are the web server's threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "strevon.h"

namespace strevon {
namespace hosttool {

struct LogEntry {
  std::uint64_t sequence = 0;  // from 1
  unsigned level = 0;          // 1 error .. 4 debug (100: the driver's opening summary)
  double timeS = 0;            // seconds since the ring was made
  std::string device;          // the Gateway's address:port
  std::string text;
};

class LogRing {
 public:
  explicit LogRing(std::size_t capacity = 2000);
  ~LogRing();
  LogRing(const LogRing&) = delete;
  LogRing& operator=(const LogRing&) = delete;

  // Constant after the first driver opens.
  void SetEcho(std::FILE* stream) { m_echo = stream; }
  void SetListener(std::function<void()> listener) { m_listener = std::move(listener); }

  // A sink that labels its lines with the device; owned by the ring.
  IDebugInfoSink* SinkFor(const std::string& device);

  void Add(unsigned level, const std::string& device, const std::string& text);
  // The lines after sequence `after`, at most `limit` of the newest.
  std::vector<LogEntry> Since(std::uint64_t after, std::size_t limit) const;
  std::uint64_t LastSequence() const;

 private:
  class DeviceSink;

  const std::size_t m_capacity;
  const std::chrono::steady_clock::time_point m_created = std::chrono::steady_clock::now();
  std::FILE* m_echo = nullptr;
  std::function<void()> m_listener;
  std::vector<std::unique_ptr<DeviceSink>> m_sinks;  // main thread, before Open

  mutable std::mutex m_mutex;
  std::deque<LogEntry> m_entries;  // guarded by m_mutex
  std::uint64_t m_sequence = 0;    // guarded by m_mutex
};

}  // namespace hosttool
}  // namespace strevon
