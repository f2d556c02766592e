#include "gateway/sender_async.h"

#include <vector>

namespace quorvel {

CSenderAsync::~CSenderAsync() { Stop(); }

CSenderAsync::PostResult CSenderAsync::Post(ClientMessage* message) {
  const std::size_t size = message != nullptr ? message->FrameSize() : 0;
  return PostItemBounded(message, size, kMaxQueuedMessages, kMaxQueuedBytes);
}

void CSenderAsync::HandleWorkItem(ClientMessage* message) {
  if (message == nullptr || m_transport == nullptr) return;
  std::vector<char> frame;
  message->Serialize(frame);
  if (!frame.empty() && m_transport->IsConnected()) m_transport->Send(frame);
}

}  // namespace quorvel
