// A Gateway client that keeps the text of every request instead of writing
// it, and accepts or refuses as the test sets. Send may run on any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/client_message.h"
#include "gateway/gw_client.h"

namespace quorvel {
namespace test_support {

class RecordingClient : public CGWClient {
 public:
  bool Send(ClientMessage* message) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(message->GetRequestText());
    delete message;
    return accept.load();
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
  }
  std::atomic<bool> accept{true};

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_requests;
};

}  // namespace test_support
}  // namespace quorvel
