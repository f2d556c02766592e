#include "gateway/gw_client.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "gateway/wire_format.h"
#include "infra/debug_interfaces.h"
#include "infra/device_info.h"
#include "infra/platform/clock.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr const char* kSenderThreadName = "Message Sender thread";
constexpr const char* kReceiverThreadName = "Message Receiver thread";
constexpr const char* kConnect = "quorvel::CGWClient::Connect";
constexpr const char* kDisconnect = "quorvel::CGWClient::Disconnect";
constexpr const char* kSend = "quorvel::CGWClient::Send";

}  // namespace

CGWClient::CGWClient() : m_sender(&Transport()) {}

CGWClient::~CGWClient() {
  Disconnect();
  // Only without a keep-alive can a thread outlive its client; its
  // descriptor is then never released, so that its number cannot reach
  // another socket or file under that thread.
  if (m_threadsKept.load()) Transport().Abandon();
}

void CGWClient::SetThreadsKeepAlive(std::weak_ptr<void> owner) {
  m_sender.SetKeepAlive(owner);
  SetKeepAlive(std::move(owner));
}

bool CGWClient::Connect(const DEVICE_INFO& info) {
  // Asked before Disconnect, which would wait out the stop time-out again
  // on every retry of the owner.
  if (m_threadsKept.load() && (IsRunning() || m_sender.IsRunning())) {
    Log(LOG_ERROR, FormatString("%s: ERROR A thread of the previous connection still runs; "
                               "not connecting",
                               kConnect));
    return false;
  }
  Disconnect();
  if (m_threadsKept.load()) return false;  // Disconnect has said why
  if (!CSendReceiveBase::Connect(info)) {
    LogConnectFailure(info);
  } else if (m_sender.Start(kSenderThreadName) && CBaseThread::Start(kReceiverThreadName)) {
    return true;
  } else {
    Log(LOG_ERROR, FormatString("%s: ERROR Unable to start the connection's threads", kConnect));
  }
  Disconnect();
  return false;
}

void CGWClient::Disconnect() {
  // The receiver must see the stop before it can see the shutdown below as
  // a lost connection, or it would report a loss that is none.
  StopEvent().Set();
  // Wakes a read or write blocked on the socket at once.
  Transport().Shutdown();
  const std::uint32_t timeoutMs = m_stopTimeoutMs.load();
  // A thread that calls this itself (a receiver, or the last thread of a
  // kept-alive owner destroying it) is past its last use of the socket.
  const bool senderEnded = m_sender.StopDiscarding(timeoutMs) || m_sender.IsCurrentThread();
  const bool receiverEnded = CBaseThread::Stop(timeoutMs) || IsCurrentThread();
  if (senderEnded && receiverEnded) {
    CSendReceiveBase::Disconnect();
    m_threadsKept.store(false);
    return;
  }
  if (!m_threadsKept.exchange(true)) {
    Log(LOG_ERROR, FormatString("%s: ERROR The %s did not end within %u ms; its socket is kept "
                                "until it ends",
                                kDisconnect, receiverEnded ? kSenderThreadName : kReceiverThreadName,
                                timeoutMs));
  }
}

bool CGWClient::Send(ClientMessage* message) {
  if (message == nullptr) return false;
  switch (m_sender.Post(message)) {
    case CSenderAsync::PostResult::kQueued:
      return true;
    case CSenderAsync::PostResult::kFull:
      NoteDroppedMessage();
      return false;
    case CSenderAsync::PostResult::kStopped:
      break;
  }
  return false;
}

void CGWClient::RegisterReceiver(std::string commands, IMessageReceiver* receiver) {
  if (receiver == nullptr) return;
  CPlainGuard guard(m_receiversLock);
  m_receivers[receiver] = std::move(commands);
  m_matches.valid = false;
}

void CGWClient::UnregisterReceiver(IMessageReceiver* receiver) {
  DropReceiver(receiver);
  m_calls.WaitIdle(receiver);
}

void CGWClient::DropReceiver(IMessageReceiver* receiver) {
  CPlainGuard guard(m_receiversLock);
  m_receivers.erase(receiver);
  m_matches.valid = false;
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
      // A frame's body stays in the stream until its receiver reads it
      // into the host's buffer; what no receiver took is dropped here.
      if (ReceiveMessageHead(message)) Dispatch(message);
      EndMessage(message);
    } catch (...) {
      // A failed allocation must not end the receiver: a later loss of the
      // connection would then go unreported. The body is dropped all the
      // same, so that the next message starts where it should.
      EndMessage(message);
    }
  }
}

void CGWClient::Dispatch(ServerMessage& message) {
  const std::string_view command = message.Command();

  // Walked by key, one receiver at a time: the lock is held only to find
  // the next match and mark the call, never across the call, so that a
  // receiver held up in the host's code cannot hold up a thread that
  // registers or drops another receiver.
  IMessageReceiver* receiver = nullptr;
  bool last = false;
  while (!last && (receiver = BeginNextCall(receiver, command, last)) != nullptr) {
    CCallTracker::Scope scope(m_calls, receiver);
    try {
      receiver->ProcessServerMessage(message);
    } catch (...) {
      // One failing receiver must not keep the message from the others.
    }
  }
}

IMessageReceiver* CGWClient::BeginNextCall(IMessageReceiver* after, std::string_view command, bool& last) {
  CPlainGuard guard(m_receiversLock);
  if (!m_matches.valid || m_matches.command != command) {
    m_matches.valid = false;
    m_matches.command.assign(command.data(), command.size());
    m_matches.receivers.clear();
    for (const auto& entry : m_receivers) {
      if (entry.second.find(command) != std::string::npos) m_matches.receivers.push_back(entry.first);
    }
    m_matches.valid = true;
  }
  const std::vector<IMessageReceiver*>& matches = m_matches.receivers;
  auto it = after == nullptr ? matches.begin()
                             : std::upper_bound(matches.begin(), matches.end(), after, std::less<IMessageReceiver*>());
  if (it == matches.end()) return nullptr;
  m_calls.Enter(*it);
  last = it + 1 == matches.end();
  return *it;
}

void CGWClient::Log(int level, const std::string& line) const {
  if (!m_log || line.empty()) return;
  try {
    m_log(level, line);
  } catch (...) {
    // Logging must not change the outcome of the call that logs.
  }
}

void CGWClient::LogConnectFailure(const DEVICE_INFO& info) {
  const char* name = info.address.c_str();
  switch (Transport().LastFailure()) {
    case TCPClient::Failure::kLookupTimedOut:
      Log(LOG_ERROR, FormatString("%s: ERROR Name lookup of '%s' took longer than %u ms", kConnect,
                                  name, static_cast<unsigned>(info.connectTimeout)));
      break;
    case TCPClient::Failure::kNoAddress:
      Log(LOG_ERROR, FormatString("%s: ERROR Name lookup of '%s' found no IPv4 address", kConnect,
                                  name));
      break;
    case TCPClient::Failure::kLookupsBusy:
      Log(LOG_ERROR, FormatString("%s: ERROR Too many name lookups pending; '%s' not looked up",
                                  kConnect, name));
      break;
    default:
      break;  // refused, unreachable or aborted: the owner knows its retries
  }
}

// The first refusal is reported at once, later ones at most once per
// interval with their number, so that a Gateway that stopped reading
// cannot flood the log.
void CGWClient::NoteDroppedMessage() {
  m_unreportedDrops.fetch_add(1);
  const std::uint64_t now = platform::MonotonicMs();
  std::uint64_t last = m_lastDropReportMs.load();
  if ((last != 0 && now - last < kDropLogIntervalMs) ||
      !m_lastDropReportMs.compare_exchange_strong(last, now)) {
    return;
  }
  const unsigned long long dropped = m_unreportedDrops.exchange(0);
  Log(LOG_ERROR,
      FormatString("%s: ERROR Message queue full (%zu messages or %zu bytes waiting); %llu "
                   "message(s) dropped",
                   kSend, CSenderAsync::kMaxQueuedMessages, CSenderAsync::kMaxQueuedBytes,
                   dropped));
}

}  // namespace quorvel
