// CSenderAsync: the "Message Sender thread" of the Gateway client. Writes
// queued ClientMessages to the socket in posting order, so that no caller
// ever waits for the network.
//
// Back-pressure: while the Gateway does not read, the thread waits inside
// one write (for at most the socket's send time-out) and the queue fills up
// to kMaxQueuedMessages or kMaxQueuedBytes of frames; beyond that Post
// refuses the new message. Once the Gateway reads again the queue drains
// and posts are taken again.
//
// Embedded in and owned by CGWClient; holds a pointer to the transport
// inside that client, which outlives it. Messages belong to the queue once
// posted and are destroyed after writing, or unsent when the queue stops.
// Posts come from any thread; HandleWorkItem runs on the sender thread.
#pragma once

#include <cstddef>

#include "gateway/client_message.h"
#include "gateway/tcp_client.h"
#include "infra/queue_thread.h"

namespace quorvel {

class CSenderAsync : public CQueueThread<ClientMessage> {
 public:
  static constexpr std::size_t kMaxQueuedMessages = 1024;
  static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;

  explicit CSenderAsync(TCPClient* transport) : m_transport(transport) {}
  ~CSenderAsync() override;

  // Queues message within the bounds above; it is the queue's in any case
  // (destroyed at once when refused).
  PostResult Post(ClientMessage* message);

 protected:
  // One send per message; a failed or partial write is not noticed here
  // (the receiver notices the lost connection), and nothing is retried.
  void HandleWorkItem(ClientMessage* message) override;

 private:
  TCPClient* const m_transport;
};

}  // namespace quorvel
