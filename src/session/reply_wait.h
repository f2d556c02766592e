// The two halves of a session request (log-on, profile): QueueRequest hands
// it to the Gateway client, WaitForReply waits for the reply.
//
// A log-on or profile request waits up to the connection time-out for the
// receiver thread to signal its reply event. The owner may also hand in an
// abort event (the driver's stop event) so that closing the driver does not
// sit out the time-out of a request the Gateway never answers. The abort
// event should be manual-reset: it is polled, and polling an auto-reset
// event would consume its signal. Called on the requesting thread.
#pragma once

#include <cstdint>

#include "gateway/client_message.h"
#include "gateway/gw_client.h"
#include "infra/event.h"

namespace quorvel {

enum class ReplyWait {
  kReplied,   // the reply event was signalled (it is not reset here)
  kTimedOut,
  kAborted,   // the abort event was signalled first
};

// False when there is no message or no client, or the client refused it;
// the message is the client's (or destroyed) in every case.
bool QueueRequest(CGWClient* client, ClientMessage* message);

// With a null abort this is a plain wait on reply. A reply that is already
// signalled wins over an abort that is also signalled.
ReplyWait WaitForReply(CEvent& reply, std::uint32_t timeoutMs, CEvent* abort);

}  // namespace quorvel
