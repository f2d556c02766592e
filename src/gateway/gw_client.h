// CGWClient: the driver's one connection to the Gateway. Connect opens the
// transport and starts two threads: the "Message Sender thread" writes
// queued requests, the "Message Receiver thread" (this object's own thread)
// reads server messages and hands each to every registered receiver whose
// command text contains the message's command. When the receiver finds the
// socket gone it tells the connection user once and ends; the client never
// reconnects by itself.
//
// A thread that overstays its stop (a receiver held in a host callback) is
// never joined by a second one: Disconnect then only shuts the socket down
// and keeps the descriptor and the read buffer for that thread, and Connect
// refuses until it has ended; a later Disconnect, Connect or the
// destructor releases them. With SetThreadsKeepAlive both threads hold the
// owner until they end, so the owner must stop them with Disconnect (not
// from its destructor, which cannot run while they hold it); the last
// thread to end may then destroy the owner and this client.
//
// Owned by the capture driver (or by one capability fetch). Owns its
// transport, its sender and the receiver map, never the receivers or the
// connection user. Connect and Disconnect run on the owner's thread (a
// receiver or the connection user may also call Disconnect from the
// receiver thread); Send, RegisterReceiver and UnregisterReceiver may be
// called from any thread; receivers and OnConnectionLost run on the
// receiver thread. The log hook is called from all of these.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/client_message.h"
#include "gateway/connection_user.h"
#include "gateway/message_receiver.h"
#include "gateway/send_receive_base.h"
#include "gateway/sender_async.h"
#include "gateway/server_message.h"
#include "infra/call_tracker.h"
#include "infra/device_info.h"
#include "infra/plain_lock.h"

namespace quorvel {

class CGWClient : public CSendReceiveBase {
 public:
  static constexpr std::uint32_t kThreadStopTimeoutMs = 5000;
  // Pause of the receiver loop while the socket is gone and nobody is told.
  static constexpr std::uint32_t kIdlePauseMs = 50;
  // At most one line about refused messages per interval.
  static constexpr std::uint64_t kDropLogIntervalMs = 1000;

  // One finished log line ("quorvel::CGWClient::Connect: ERROR ...") and
  // its level (LOG_ERROR ... of debug_interfaces.h).
  using LogLine = std::function<void(int level, const std::string& line)>;

  CGWClient();
  // Disconnects; returns within the stop time-outs, normally at once.
  ~CGWClient() override;

  // Disconnects, connects the transport, then starts the sender and the
  // receiver. False (everything stopped and closed) when any step fails,
  // and at once, touching nothing, while a thread of an earlier connection
  // overstays its stop. See SetConnectAbortEvent for ending an attempt
  // early.
  bool Connect(const DEVICE_INFO& info) override;
  // Stops the sender (queued messages are destroyed unsent) and the
  // receiver, then closes the socket. A blocked read ends at once. Returns
  // within the stop time-out for each thread; a thread still running then
  // keeps the socket (shut down) until it ends.
  void Disconnect() override;
  // Queues message for the sender; the client owns it from now on, also
  // when the result is false (stopped by Disconnect, or the queue is full
  // because the Gateway does not read: destroyed at once). Messages queued
  // before the first Connect are destroyed by it unsent.
  virtual bool Send(ClientMessage* message);

  // Owner thread, before Connect. Empty (the default) logs nothing.
  void SetLog(LogLine log) { m_log = std::move(log); }
  // Owner thread, while no thread of this client runs: every thread it
  // starts from now on holds owner (when still alive) until it ends.
  void SetThreadsKeepAlive(std::weak_ptr<void> owner);
  // Owner thread: how long Disconnect waits for each thread to end.
  void SetThreadStopTimeout(std::uint32_t timeoutMs) { m_stopTimeoutMs.store(timeoutMs); }

  // commands is searched as a whole for the command of each message, so
  // several names may be joined by "," or ";". Registering again replaces
  // the text. Receivers are called outside the map's lock, so a receiver
  // may register, drop or unregister receivers (itself included) from
  // inside its call; unregistering itself there does not wait for itself.
  void RegisterReceiver(std::string commands, IMessageReceiver* receiver);
  // Takes the receiver out, then waits for a delivery into it running on
  // another thread: afterwards its owner may destroy it.
  void UnregisterReceiver(IMessageReceiver* receiver);
  // Takes the receiver out without waiting; a delivery into it already
  // under way may still run. For a receiver that stays alive (one that
  // merely stops listening), so that the caller never waits for the
  // host's code that such a delivery may be in.
  void DropReceiver(IMessageReceiver* receiver);

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
  // The first receiver after `after` (from the start when null) whose text
  // contains command, with its call marked; null when there is none. last
  // tells whether it was the last such receiver, so that the usual message,
  // with one receiver, costs one pass under the lock.
  IMessageReceiver* BeginNextCall(IMessageReceiver* after, std::string_view command, bool& last);
  void Log(int level, const std::string& line) const;
  void LogConnectFailure(const DEVICE_INFO& info);
  void NoteDroppedMessage();

  // Constant while threads run.
  LogLine m_log;
  std::atomic<std::uint32_t> m_stopTimeoutMs{kThreadStopTimeoutMs};
  // Set by a Disconnect that left a thread running (and the socket to it),
  // cleared by the one that finds both ended.
  std::atomic<bool> m_threadsKept{false};
  // Refused messages not yet reported, and when the last report was made.
  std::atomic<std::uint64_t> m_unreportedDrops{0};
  std::atomic<std::uint64_t> m_lastDropReportMs{0};  // 0: none yet

  CSenderAsync m_sender;
  // Taken for every message on the receiver thread; never re-entered.
  CPlainLock m_receiversLock;
  // Walked in key order by Dispatch.
  std::map<IMessageReceiver*, std::string> m_receivers GUARDED_BY(m_receiversLock);
  // The receivers of the last command dispatched, in key order: a stream
  // of frames searches the receivers' texts once, not once per frame.
  // Dropped whenever m_receivers changes.
  struct Matches {
    bool valid = false;
    std::string command;
    std::vector<IMessageReceiver*> receivers;
  };
  Matches m_matches GUARDED_BY(m_receiversLock);
  // Deliveries under way; its lock is taken after m_receiversLock.
  CCallTracker m_calls;
  std::atomic<IConnectionUser*> m_connectionUser{nullptr};
};

}  // namespace quorvel
