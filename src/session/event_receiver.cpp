#include "session/event_receiver.h"

#include <new>

#include "gateway/client_message.h"

namespace quorvel {

namespace {

const char kSubscribe[] = "recorder/event/subscribe";
const char kUnsubscribe[] = "recorder/event/unsubscribe";
const char kEvent[] = "recorder/event";
const char kEventTypes[] = "Unknown,IOState,VideoMotion,CameraState";

// A null message counts as refused, like a Send on a stopped client.
bool SendEventRequest(CGWClient* client, const char* command) {
  if (client == nullptr) return false;
  ClientMessage* message = new (std::nothrow) ClientMessage(command);
  if (message == nullptr) return false;
  message->AddParam("events", kEventTypes);
  return client->Send(message);
}

}  // namespace

CEventReceiver::CEventReceiver(CGWClient* client)
    : m_client(client),
      m_registration(std::string(kSubscribe) + kUnsubscribe + kEvent) {}

CEventReceiver::~CEventReceiver() {
  Unsubscribe();
  // Only now wait for a delivery into this object that is still under way.
  if (m_client != nullptr) m_client->UnregisterReceiver(this);
}

bool CEventReceiver::Subscribe() {
  if (m_client != nullptr) m_client->RegisterReceiver(m_registration, this);
  if (SendEventRequest(m_client, kSubscribe)) return true;
  Unsubscribe();
  return false;
}

void CEventReceiver::Unsubscribe() {
  SendEventRequest(m_client, kUnsubscribe);
  // Does not wait: an event delivery under way may be held in the host's
  // input callback, and the driver's Close unsubscribes.
  if (m_client != nullptr) m_client->DropReceiver(this);
  m_consumers.Clear();
}

void CEventReceiver::AddClient(const std::string& eventType,
                               const CEventConsumerList::Consumer& consumer) {
  m_consumers.Add(eventType, consumer);
}

void CEventReceiver::RemoveClient(const CEventConsumerList::Consumer& consumer) {
  m_consumers.Remove(consumer);
}

void CEventReceiver::ProcessServerMessage(ServerMessage& message) {
  // The reply to our own subscription also answers to "recorder/event".
  if (message.IsCommand(kSubscribe)) return;
  if (!message.IsCommand(kEvent)) return;
  m_consumers.Deliver(message.GetHeader("Event"), message.GetHeader("Pid"),
                      message.GetHeader("Status"));
}

}  // namespace quorvel
