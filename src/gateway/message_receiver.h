// IMessageReceiver: something that wants server messages of certain
// commands. It registers with CGWClient::RegisterReceiver and is called on
// the client's receiver thread, one message at a time, while the client
// holds its receiver lock; it must stay alive while registered.
//
// The destructor is declared after ProcessServerMessage so that the method keeps
// slot 0 and an implementer's destructor follows it.
#pragma once

namespace quorvel {

class ServerMessage;

class IMessageReceiver {
 public:
  // The message is valid only during the call.
  virtual void ProcessServerMessage(ServerMessage& message) = 0;
  virtual ~IMessageReceiver() = default;
};

}  // namespace quorvel
