// CEventReceiver: the driver's recorder-event subscription at the Gateway.
//
// Subscribes once per connection to the event types "Unknown", "IOState",
// "VideoMotion" and "CameraState", receives every "recorder/event" message
// and passes each event to the consumers registered for its type (the
// digital I/O object registers for "IOState"). Unsubscribing, which the
// driver does on every connection loss, also drops every consumer: they must
// register again after the next log-on. Unsubscribing never waits for an
// event delivery under way (it may be held in the host's callback); only
// the destructor does.
//
// Owned by the capture driver beside its Gateway client, which must outlive
// it. Subscribe, Unsubscribe and AddClient run on owner threads
// (Unsubscribe also on the receiver thread, from the driver's
// connection-loss handler); ProcessServerMessage runs on the client's
// receiver thread. Consumers are shared: the receiver holds them
// weakly and a delivery strongly while it calls one, so RemoveClient never
// waits (one delivery already under way may still arrive) and a consumer's
// owner may drop it at any time (see CEventConsumerList). RemoveClient may
// be called from anywhere, including from inside EventReceived.
#pragma once

#include <string>

#include "gateway/gw_client.h"
#include "session/event_consumer_list.h"
#include "session/event_receiver_client.h"

namespace quorvel {

class CEventReceiver : public IMessageReceiver {
 public:
  explicit CEventReceiver(CGWClient* client);
  // Unsubscribes.
  virtual ~CEventReceiver();

  CEventReceiver(const CEventReceiver&) = delete;
  CEventReceiver& operator=(const CEventReceiver&) = delete;

  // Registers with the client and queues the subscription; the server's
  // answer is not awaited. False (and unsubscribed) when the client refused
  // the message.
  bool Subscribe();
  // Queues the unsubscription, unregisters from the client and drops every
  // consumer.
  void Unsubscribe();

  // Ignored for an empty type or a null consumer; a consumer is kept once
  // per type however often it is added.
  void AddClient(const std::string& eventType, const CEventConsumerList::Consumer& consumer);
  void RemoveClient(const CEventConsumerList::Consumer& consumer);

  void ProcessServerMessage(ServerMessage& message) override;

 private:
  CGWClient* const m_client;
  // The commands this object takes from the client.
  const std::string m_registration;
  CEventConsumerList m_consumers;
};

}  // namespace quorvel
