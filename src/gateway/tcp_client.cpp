#include "gateway/tcp_client.h"

#include <chrono>
#include <memory>
#include <thread>

#include "infra/device_info.h"
#include "infra/platform/name_lookup.h"

namespace quorvel {

namespace {

bool SleepWithoutAbort(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return false;
}

}  // namespace

TCPClient::~TCPClient() { Cleanup(); }

bool TCPClient::Connect(const DEVICE_INFO& info, const AbortableWait& wait) {
  Close();
  m_deviceInfo = info;
  m_failure = Failure::kNone;
  // Resolved before a socket exists, so that a slow lookup holds none.
  std::uint32_t address = 0;
  if (!Resolve(info, wait, address)) return false;

  const platform::SocketHandle socket = platform::OpenTcpSocket();
  if (socket == platform::kInvalidSocket) return Fail(Failure::kNoConnection);
  // Until it is stored in m_socket the attempt's socket is this function's
  // alone; every failure below releases it here.
  auto fail = [this, socket](Failure why = Failure::kNoConnection) {
    platform::CloseSocket(socket);
    return Fail(why);
  };

  if (!platform::SetReceiveBufferSize(socket, kReceiveBufferSize) ||
      !platform::SetReceiveTimeout(socket, kSocketTimeoutMs) ||
      !platform::SetSendTimeout(socket, kSocketTimeoutMs)) {
    return fail();
  }

  const platform::ConnectState start = platform::StartConnect(socket, address, info.port);
  if (start == platform::ConnectState::kFailed) return fail();
  if (start == platform::ConnectState::kPending) {
    std::int64_t tries = info.connectTimeout / kConnectPollMs;
    // A refused attempt is remembered rather than polled again: its pending
    // error is consumed by the first check, and a second check would find
    // the socket writable and take it for connected.
    bool refused = false;
    for (;;) {
      const bool aborted = wait ? wait(kConnectPollMs) : SleepWithoutAbort(kConnectPollMs);
      if (aborted) return fail(Failure::kAborted);
      if (!refused) {
        const platform::ConnectState state = platform::PollConnect(socket);
        if (state == platform::ConnectState::kConnected) break;
        refused = state == platform::ConnectState::kFailed;
      }
      if (--tries < 1) return fail();
    }
    // Connected on the very first poll with a time-out below 100 ms: the
    // attempt had no time budget, so it does not count.
    if (tries <= 0) return fail();
  }
  if (!platform::SetBlocking(socket, true)) return fail();
  m_socket.store(socket);
  return true;
}

bool TCPClient::Resolve(const DEVICE_INFO& info, const AbortableWait& wait,
                        std::uint32_t& address) {
  if (platform::ParseDottedIPv4(info.address, address)) {
    return address != 0 || Fail(Failure::kNoAddress);
  }
  const std::shared_ptr<platform::NameLookup> lookup = platform::StartNameLookup(info.address);
  if (!lookup) return Fail(Failure::kLookupsBusy);
  for (std::uint32_t waited = 0;; waited += kConnectPollMs) {
    const platform::NameLookup::State state = lookup->Wait(0, address);
    if (state == platform::NameLookup::State::kFound && address != 0) return true;
    if (state != platform::NameLookup::State::kPending) return Fail(Failure::kNoAddress);
    if (waited >= info.connectTimeout) return Fail(Failure::kLookupTimedOut);
    if (!wait) {
      lookup->Wait(kConnectPollMs, address);
    } else if (wait(kConnectPollMs)) {
      return Fail(Failure::kAborted);  // the lookup goes on alone and is dropped
    }
  }
}

bool TCPClient::Send(const std::vector<char>& bytes) {
  const platform::SocketHandle socket = m_socket.load();
  if (socket == platform::kInvalidSocket) return false;
  platform::SocketError error = platform::SocketError::kNone;
  const std::int64_t sent = platform::SendOnce(socket, bytes.data(), bytes.size(), error);
  return sent >= 0 && static_cast<std::size_t>(sent) == bytes.size();
}

bool TCPClient::Receive(std::vector<char>& out, int count, const StopCheck& stop) {
  out.clear();
  if (count <= 0) return count == 0;
  const std::size_t wanted = static_cast<std::size_t>(count);
  out.resize(wanted);
  std::size_t received = 0;
  while (received < wanted) {
    const std::size_t got = ReceiveSome(out.data() + received, wanted - received, stop);
    if (got == 0) break;
    received += got;
  }
  out.resize(received);
  return received == wanted;
}

std::size_t TCPClient::ReceiveSome(char* buffer, std::size_t size, const StopCheck& stop) {
  return ReceiveSome(buffer, size, nullptr, 0, stop);
}

std::size_t TCPClient::ReceiveSome(char* first, std::size_t firstSize, char* second,
                                   std::size_t secondSize, const StopCheck& stop) {
  const platform::SocketHandle socket = m_socket.load();
  if (socket == platform::kInvalidSocket || firstSize + secondSize == 0) return 0;
  if (stop && stop()) return 0;

  platform::SocketError error = platform::SocketError::kNone;
  if (m_readWait == ReadWait::kUntilShutdown) {
    const std::int64_t got =
        platform::ReceiveWithin(socket, first, firstSize, second, secondSize, kSocketTimeoutMs, error);
    return Received(socket, got, error);
  }
  auto receive = [&](bool now) {
    return now ? platform::ReceiveNow(socket, first, firstSize, second, secondSize, error)
               : platform::ReceiveOnce(socket, first, firstSize, second, secondSize, error);
  };
  // A busy stream nearly always has bytes waiting: take them without a
  // readiness wait first.
  std::int64_t got = receive(true);
  if (got < 0 && error == platform::SocketError::kTimeout) {
    // Nothing there yet: wait in short slices so that a stopping thread is
    // not held for the whole receive time-out.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSocketTimeoutMs);
    for (;;) {
      if (stop && stop()) return 0;
      const platform::ReadyState ready = platform::WaitReadable(socket, kStopCheckMs);
      if (ready != platform::ReadyState::kTimeout) break;  // a failed wait is left to recv
      if (std::chrono::steady_clock::now() >= deadline) return 0;
    }
    got = receive(false);
  }
  return Received(socket, got, error);
}

std::size_t TCPClient::Received(platform::SocketHandle socket, std::int64_t got,
                                platform::SocketError error) {
  if (got > 0) return static_cast<std::size_t>(got);
  if (got == 0 || error == platform::SocketError::kConnectionLost) MarkLost(socket);
  return 0;
}

void TCPClient::Shutdown() { platform::ShutdownSocket(m_socket.load()); }

void TCPClient::Close() {
  const platform::SocketHandle socket = m_socket.exchange(platform::kInvalidSocket);
  if (socket != platform::kInvalidSocket) {
    platform::ShutdownSocket(socket);
    platform::CloseSocket(socket);
  }
  platform::CloseSocket(m_retired.exchange(platform::kInvalidSocket));
}

void TCPClient::Cleanup() { Close(); }

void TCPClient::Abandon() {
  platform::ShutdownSocket(m_socket.exchange(platform::kInvalidSocket));
  m_retired.store(platform::kInvalidSocket);
}

void TCPClient::MarkLost(platform::SocketHandle socket) {
  platform::SocketHandle expected = socket;
  if (!m_socket.compare_exchange_strong(expected, platform::kInvalidSocket)) return;
  platform::ShutdownSocket(socket);
  // Released by the owner's Close, never here: the sender may still hold
  // this descriptor number for a send.
  m_retired.store(socket);
}

}  // namespace quorvel
