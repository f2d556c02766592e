// CSenderAsync: the "Message Sender thread" of the Gateway client. Writes
// queued ClientMessages to the socket in posting order, so that no caller
// ever waits for the network.
//
// Embedded in and owned by CGWClient; holds a pointer to the transport
// inside that client, which outlives it. Messages belong to the queue once
// posted and are destroyed after writing, or unsent when the queue stops.
// Posts come from any thread; HandleWorkItem runs on the sender thread.
#pragma once

#include "gateway/client_message.h"
#include "gateway/tcp_client.h"
#include "infra/queue_thread.h"

namespace quorvel {

class CSenderAsync : public CQueueThread<ClientMessage> {
 public:
  explicit CSenderAsync(TCPClient* transport) : m_transport(transport) {}
  ~CSenderAsync() override;

 protected:
  // One send per message; a failed or partial write is not noticed here
  // (the receiver notices the lost connection), and nothing is retried.
  void HandleWorkItem(ClientMessage* message) override;

 private:
  TCPClient* const m_transport;
};

}  // namespace quorvel
