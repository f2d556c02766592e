// An event consumer that records what it receives, in order, and can be
// waited on; EventReceived may run on any thread.
#pragma once

#include <string>

#include "session/event_receiver_client.h"
#include "waitable_log.h"

namespace quorvel {
namespace test_support {

struct ReceivedEvent {
  std::string type, pid, status;
  bool operator==(const ReceivedEvent& o) const {
    return type == o.type && pid == o.pid && status == o.status;
  }
};

class RecordingConsumer : public IEventReceiverClient {
 public:
  virtual ~RecordingConsumer() = default;
  void EventReceived(const std::string& type, const std::string& pid,
                     const std::string& status) override {
    events.Add({type, pid, status});
  }
  std::size_t Count() const { return events.Size(); }
  strevon::host::WaitableLog<ReceivedEvent> events;
};

}  // namespace test_support
}  // namespace quorvel
