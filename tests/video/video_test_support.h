// Helpers shared by the video unit tests: a driver that records its log
// lines and hands out a test host allocator, a Gateway client that keeps
// the request texts instead of writing them, and stream messages built the
// way the client's receiver builds them.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "driver/idriver.h"
#include "gateway/gw_client.h"
#include "gateway/server_message.h"
#include "strevon.h"
#include "support/fake_driver.h"

namespace quorvel {
namespace video_test {

// Keeps every request the driver queues, in order.
class RecordingClient : public CGWClient {
 public:
  bool Send(ClientMessage* message) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(message->GetRequestText());
    }
    delete message;
    m_changed.notify_all();
    return m_accept;
  }

  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
  }
  // Waits until at least count requests start with prefix.
  bool WaitFor(const std::string& prefix, std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return CountLocked(prefix) >= count; });
  }
  std::size_t Count(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return CountLocked(prefix);
  }

  bool m_accept = true;

 private:
  std::size_t CountLocked(const std::string& prefix) const {
    std::size_t n = 0;
    for (const std::string& r : m_requests) n += r.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_requests;
};

// The parts of the driver that the video classes use: a device at
// 10.0.0.5:8001, two channels, full-rate streams.
class FakeDriver : public test_support::FakeDriver {
 public:
  FakeDriver() {
    device.address = "10.0.0.5";
    device.port = 8001;
    connectionValue = 1;
    channelCount = 2;
  }
};

inline CameraRecord Camera(const std::string& pid, bool ptz) {
  CameraRecord record;
  record.pid = pid;
  record.ptz = ptz;
  return record;
}

// headers in order; body "" means no body.
inline ServerMessage StreamMessage(const std::vector<std::pair<std::string, std::string>>& headers,
                                   const std::string& body = std::string()) {
  std::string text = "Response: video/stream\r\n";
  for (const auto& header : headers) text += header.first + ": " + header.second + "\r\n";
  text += "\r\n";
  ServerMessage message;
  message.SetHeaderData(std::vector<char>(text.begin(), text.end()));
  message.SetBody(std::vector<char>(body.begin(), body.end()));
  EXPECT_TRUE(message.Parse()) << text;
  return message;
}

// A home directory without a settings file, so every stream is full rate;
// removed again with the object.
class EmptyHome {
 public:
  EmptyHome() {
    char pattern[] = "/tmp/strevon-video-XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_path = pattern;
    EXPECT_FALSE(m_path.empty());
    EXPECT_EQ(setenv("STREVON_HOME", m_path.c_str(), 1), 0);
  }
  ~EmptyHome() {
    if (!m_path.empty()) rmdir(m_path.c_str());
  }
  EmptyHome(const EmptyHome&) = delete;
  EmptyHome& operator=(const EmptyHome&) = delete;

 private:
  std::string m_path;
};

}  // namespace video_test
}  // namespace quorvel
