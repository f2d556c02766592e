// IEventReceiverClient: a consumer of Gateway recorder events.
//
// Registered with CEventReceiver for one or more event types as a
// std::shared_ptr, and called on the Gateway client's receiver thread, one
// event at a time, outside every lock of the receiver, so it may add or
// remove consumers from inside the call. The receiver holds a consumer only
// while it calls it; a consumer whose owner let go during such a call is
// freed on the receiver thread when the call returns.
#pragma once

#include <string>

namespace quorvel {

class IEventReceiverClient {
 public:
  // Arguments in this order: the "Event", "Pid" and "Status" headers of the
  // event message, each "" when the message lacks it.
  virtual void EventReceived(const std::string& eventType, const std::string& pid,
                             const std::string& status) = 0;

 protected:
  // Consumers are never destroyed through this interface.
  ~IEventReceiverClient() = default;
};

}  // namespace quorvel
