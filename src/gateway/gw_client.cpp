#include "gateway/gw_client.h"

#include <utility>

#include "gateway/wire_format.h"

namespace quorvel {

namespace {

constexpr const char* kSenderThreadName = "Message Sender thread";
constexpr const char* kReceiverThreadName = "Message Receiver thread";
constexpr const char* kResponseKey = "Response";
constexpr const char* kRequestKey = "Request";
constexpr const char* kServerRequest = "request/validation";

}  // namespace

CGWClient::CGWClient() : m_sender(&Transport()) {}

CGWClient::~CGWClient() { Disconnect(); }

bool CGWClient::Connect(const DEVICE_INFO& info) {
  Disconnect();
  if (CSendReceiveBase::Connect(info) && m_sender.Start(kSenderThreadName) &&
      CBaseThread::Start(kReceiverThreadName)) {
    return true;
  }
  Disconnect();
  return false;
}

void CGWClient::Disconnect() {
  // The receiver must see the stop before it can see the shutdown below as
  // a lost connection, or it would report a loss that is none.
  StopEvent().Set();
  // Wakes a read or write blocked on the socket at once; the descriptor is
  // released only after both threads are gone.
  Transport().Shutdown();
  m_sender.Stop();
  // From the receiver thread itself this does not wait; the caller is then
  // the only thread left that could touch the socket.
  CBaseThread::Stop(kThreadStopTimeoutMs);
  CSendReceiveBase::Disconnect();
}

bool CGWClient::Send(ClientMessage* message) {
  if (message == nullptr) return false;
  return m_sender.PostItem(message);
}

void CGWClient::RegisterReceiver(std::string commands, IMessageReceiver* receiver) {
  if (receiver == nullptr) return;
  CLockGuard guard(m_receiversLock);
  m_receivers[receiver] = std::move(commands);
}

void CGWClient::UnregisterReceiver(IMessageReceiver* receiver) {
  CLockGuard guard(m_receiversLock);
  m_receivers.erase(receiver);
}

void CGWClient::ThreadFunction() {
  // One message for the whole connection: its storage is reused.
  ServerMessage message;
  for (;;) {
    try {
      if (IsStopSignalled()) return;
      if (!IsConnected()) {
        IConnectionUser* user = m_connectionUser.load();
        if (user != nullptr) {
          try {
            user->OnConnectionLost();
          } catch (...) {
            // Told once all the same; the thread ends either way.
          }
          return;
        }
        if (WaitForStop(kIdlePauseMs)) return;
        continue;
      }
      if (GetProtocolLevel() > wire::kMarkerlessProtocolLevel && !WaitForMessageStart()) continue;
      if (ReceiveMessage(message)) Dispatch(message);
    } catch (...) {
      // A failed allocation must not end the receiver: a later loss of the
      // connection would then go unreported.
    }
  }
}

void CGWClient::Dispatch(ServerMessage& message) {
  std::string command = message.GetHeader(kResponseKey);
  if (command.find(kServerRequest) != std::string::npos) command = message.GetHeader(kRequestKey);

  CLockGuard guard(m_receiversLock);
  // Walked by key rather than by iterator, so that a receiver that changes
  // the map from inside its call cannot leave the walk on a dead node.
  for (auto it = m_receivers.begin(); it != m_receivers.end();) {
    IMessageReceiver* receiver = it->first;
    if (it->second.find(command) != std::string::npos) {
      try {
        receiver->ProcessServerMessage(message);
      } catch (...) {
        // One failing receiver must not keep the message from the others.
      }
    }
    it = m_receivers.upper_bound(receiver);
  }
}

}  // namespace quorvel
