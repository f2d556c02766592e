// CGWClient: the driver's one connection to the Gateway. Connect opens the
// transport and starts two threads: the "Message Sender thread" writes
// queued requests, the "Message Receiver thread" (this object's own thread)
// reads server messages and hands each to every registered receiver whose
// command text contains the message's command. When the receiver finds the
// socket gone it tells the connection user once and ends; the client never
// reconnects by itself.
//
// Owned by the capture driver (or by one capability fetch). Owns its
// transport, its sender and the receiver map, never the receivers or the
// connection user. Connect and Disconnect run on the owner's thread (a
// receiver or the connection user may also call Disconnect from the
// receiver thread); Send, RegisterReceiver and UnregisterReceiver may be
// called from any thread; receivers and OnConnectionLost run on the
// receiver thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "gateway/client_message.h"
#include "gateway/connection_user.h"
#include "gateway/message_receiver.h"
#include "gateway/send_receive_base.h"
#include "gateway/sender_async.h"
#include "gateway/server_message.h"
#include "infra/recursive_lock.h"
#include "strevon.h"

namespace quorvel {

class CGWClient : public CSendReceiveBase {
 public:
  static constexpr std::uint32_t kThreadStopTimeoutMs = 5000;
  // Pause of the receiver loop while the socket is gone and nobody is told.
  static constexpr std::uint32_t kIdlePauseMs = 50;

  CGWClient();
  // Disconnects; returns within the stop time-outs, normally at once.
  ~CGWClient() override;

  // Disconnects, connects the transport, then starts the sender and the
  // receiver. False (everything stopped and closed) when any step fails.
  // See SetConnectAbortEvent for ending an attempt early.
  bool Connect(const DEVICE_INFO& info) override;
  // Stops the sender (queued messages are destroyed unsent) and the
  // receiver, then closes the socket. A blocked read ends at once.
  void Disconnect() override;
  // Queues message for the sender; the client owns it from now on, also
  // when the result is false (stopped by Disconnect: destroyed at once).
  // Messages queued before the first Connect are destroyed by it unsent.
  virtual bool Send(ClientMessage* message);

  // commands is searched as a whole for the command of each message, so
  // several names may be joined by "," or ";". Registering again replaces
  // the text. Waits while a message is being delivered (except when called
  // from inside a receiver, which may register but must not unregister).
  void RegisterReceiver(std::string commands, IMessageReceiver* receiver);
  void UnregisterReceiver(IMessageReceiver* receiver);

  // Told once per connection loss; null (the default) tells nobody.
  void SetConnectionUser(IConnectionUser* user) { m_connectionUser.store(user); }
  IConnectionUser* GetConnectionUser() const { return m_connectionUser.load(); }

 protected:
  // The receiver loop.
  void ThreadFunction() override;

 private:
  // Inside the client every write goes through the sender thread.
  using CSendReceiveBase::Send;

  void Dispatch(ServerMessage& message);

  CSenderAsync m_sender;
  CRecursiveLock m_receiversLock;
  // Guarded by m_receiversLock. Walked in key order by Dispatch.
  std::map<IMessageReceiver*, std::string> m_receivers;
  std::atomic<IConnectionUser*> m_connectionUser{nullptr};
};

}  // namespace quorvel
