// The driver as the parts under test see it (IDriver): lists, counts,
// device info, an allocator and a Gateway client that a test sets as it
// needs, and a log that records every line (formatted like the real driver,
// so a stray "%" in a text shows up garbled or trips the sanitizers) and
// can be waited on. Any thread may log; tests read the log from theirs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/camera_record.h"
#include "core/idriver.h"
#include "gateway/gw_client.h"
#include "infra/device_info.h"
#include "strevon.h"

namespace quorvel {
namespace test_support {

struct LogLine {
  int level;
  std::string text;
};

class FakeDriver : public IDriver {
 public:
  void DebugMessage(int level, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    char buffer[4096];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_log.push_back({level, buffer});
    }
    m_changed.notify_all();
  }
  std::string GetDriverName() override { return "Strevon"; }
  DEVICE_INFO* GetDeviceInfo() override { return &device; }
  std::pair<std::uint32_t, std::uint32_t> GetIOCounts() override { return {0, 0}; }
  ipcapture::IFrameAllocator* GetFrameAllocator() override { return allocator; }
  std::uint32_t GetVideoStandard() override { return 0; }
  std::uint32_t GetConnectionValue() override { return connectionValue; }
  std::uint32_t GetChannelCount() override {
    return channelCount ? *channelCount : static_cast<std::uint32_t>(cameras.size());
  }
  const std::vector<CameraRecord>& GetCameraList() override { return cameras; }
  const std::vector<IORecord>& GetInputList() override { return inputs; }
  const std::vector<IORecord>& GetOutputList() override { return outputs; }
  CGWClient* GetClient() override { return client; }
  int GetKalmenoVersion() override { return 3; }
  std::string GetCustomParameter(std::uint32_t) override { return std::string(); }
  int GetCustomParameterInt(std::uint32_t) override { return kMissingCustomParameter; }
  bool WouldLog(int) override { return true; }

  // The level of the first line equal to text, or nothing.
  std::optional<int> LevelOf(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const LogLine& line : m_log) {
      if (line.text == text) return line.level;
    }
    return std::nullopt;
  }
  std::size_t CountLines(const std::string& part) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return CountLocked(part);
  }
  bool HasLineContaining(const std::string& part) { return CountLines(part) > 0; }
  bool WaitForLines(const std::string& part, std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return CountLocked(part) >= count; });
  }

  DEVICE_INFO device;
  std::vector<CameraRecord> cameras;
  std::vector<IORecord> inputs;
  std::vector<IORecord> outputs;
  ipcapture::IFrameAllocator* allocator = nullptr;
  CGWClient* client = nullptr;
  std::uint32_t connectionValue = 0;
  std::optional<std::uint32_t> channelCount;

 private:
  std::size_t CountLocked(const std::string& part) const {
    std::size_t n = 0;
    for (const LogLine& line : m_log) n += line.text.find(part) != std::string::npos ? 1 : 0;
    return n;
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<LogLine> m_log;
};

}  // namespace test_support
}  // namespace quorvel
