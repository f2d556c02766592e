#include "infra/platform/tcp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <vector>

namespace quorvel {
namespace platform {

namespace {

SOCKET Sock(SocketHandle socket) { return static_cast<SOCKET>(socket); }

bool SetTimeout(SocketHandle socket, int option, std::uint32_t timeoutMs) {
  // Winsock takes the time-out as a DWORD of milliseconds.
  const DWORD value = timeoutMs;
  return setsockopt(Sock(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                    sizeof(value)) == 0;
}

timeval ToTimeval(std::uint32_t timeoutMs) {
  timeval tv{};
  tv.tv_sec = static_cast<long>(timeoutMs / 1000);
  tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
  return tv;
}

// Sockets shut down here and not yet closed. Winsock does not make a local
// shutdown visible to a select already waiting in another thread, so a
// wait looks here between short slices. Allocated once, never destroyed,
// so that no exit-time destructor races a late socket call.
struct ShutDownSockets {
  std::mutex mutex;
  std::vector<SOCKET> handles;  // guarded by mutex
};

ShutDownSockets& ShutDown() {
  static ShutDownSockets* sockets = new ShutDownSockets();
  return *sockets;
}

bool IsShutDown(SOCKET socket) {
  ShutDownSockets& down = ShutDown();
  std::lock_guard<std::mutex> lock(down.mutex);
  return std::find(down.handles.begin(), down.handles.end(), socket) != down.handles.end();
}

constexpr std::uint32_t kWaitSliceMs = 50;

int ClampSize(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

SocketError ClassifySocketError(int osError) {
  switch (osError) {
    case 0:
      return SocketError::kNone;
    // The receive and send time-outs (SO_RCVTIMEO, SO_SNDTIMEO) end a call
    // with WSAETIMEDOUT; a non-blocking call that would wait says
    // WSAEWOULDBLOCK.
    case WSAEWOULDBLOCK:
    case WSAETIMEDOUT:
      return SocketError::kTimeout;
    case WSAECONNRESET:
    case WSAENOTCONN:
    case WSAENETDOWN:
    case WSAENETRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
      return SocketError::kConnectionLost;
    default:
      return SocketError::kOther;
  }
}

bool InitializeSockets() {
  // Once per process; the function-local static makes concurrent first
  // calls wait for the one that starts Winsock.
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SocketHandle OpenTcpSocket() {
  if (!InitializeSockets()) return kInvalidSocket;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // Not inherited by processes the host starts.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(s);
}

bool SetReceiveBufferSize(SocketHandle socket, int bytes) {
  return setsockopt(Sock(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                    sizeof(bytes)) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, std::uint32_t timeoutMs) {
  return SetTimeout(socket, SO_RCVTIMEO, timeoutMs);
}

bool SetSendTimeout(SocketHandle socket, std::uint32_t timeoutMs) {
  return SetTimeout(socket, SO_SNDTIMEO, timeoutMs);
}

bool SetBlocking(SocketHandle socket, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(Sock(socket), FIONBIO, &nonBlocking) == 0;
}

ConnectState StartConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  if (!SetBlocking(socket, false)) return ConnectState::kFailed;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = address;
  if (connect(Sock(socket), reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == 0) {
    return ConnectState::kConnected;
  }
  return WSAGetLastError() == WSAEWOULDBLOCK ? ConnectState::kPending : ConnectState::kFailed;
}

ConnectState PollConnect(SocketHandle socket) {
  // Winsock reports a failed attempt in the except set, never in the write
  // set; a writable socket is connected.
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(Sock(socket), &writable);
  FD_SET(Sock(socket), &failed);
  timeval now = ToTimeval(0);
  const int ready = select(0, nullptr, &writable, &failed, &now);
  if (ready == SOCKET_ERROR) return ConnectState::kFailed;
  if (ready == 0) return ConnectState::kPending;
  if (FD_ISSET(Sock(socket), &failed)) return ConnectState::kFailed;
  int pending = 0;
  int length = sizeof(pending);
  if (getsockopt(Sock(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending),
                 &length) != 0 ||
      pending != 0) {
    return ConnectState::kFailed;
  }
  return FD_ISSET(Sock(socket), &writable) ? ConnectState::kConnected : ConnectState::kFailed;
}

ReadyState WaitReadable(SocketHandle socket, std::uint32_t timeoutMs) {
  std::uint32_t waited = 0;
  for (;;) {
    // A socket shut down locally is "ready": the next receive reports it.
    if (IsShutDown(Sock(socket))) return ReadyState::kReady;
    const std::uint32_t slice = std::min(timeoutMs - waited, kWaitSliceMs);
    fd_set readable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&failed);
    FD_SET(Sock(socket), &readable);
    FD_SET(Sock(socket), &failed);
    timeval limit = ToTimeval(slice);
    const int ready = select(0, &readable, nullptr, &failed, &limit);
    if (ready > 0) return ReadyState::kReady;
    if (ready < 0) return ReadyState::kFailed;
    waited += slice;
    if (waited >= timeoutMs) return ReadyState::kTimeout;
  }
}

std::int64_t SendOnce(SocketHandle socket, const void* data, std::size_t size, SocketError& error) {
  // Winsock never raises a signal for a closed peer.
  const int sent = send(Sock(socket), static_cast<const char*>(data), ClampSize(size), 0);
  error = sent == SOCKET_ERROR ? ClassifySocketError(WSAGetLastError()) : SocketError::kNone;
  return sent == SOCKET_ERROR ? -1 : static_cast<std::int64_t>(sent);
}

namespace {

std::int64_t ReceivePlain(SocketHandle socket, void* buffer, std::size_t size, SocketError& error) {
  const int received = recv(Sock(socket), static_cast<char*>(buffer), ClampSize(size), 0);
  error = received == SOCKET_ERROR ? ClassifySocketError(WSAGetLastError()) : SocketError::kNone;
  return received == SOCKET_ERROR ? -1 : static_cast<std::int64_t>(received);
}

// Winsock has no per-call "don't wait" flag, and switching the socket to
// non-blocking mode would race the sender thread: ask first whether a
// receive would return at once (data, an orderly close or an error).
bool NothingWaiting(SocketHandle socket, SocketError& error) {
  if (WaitReadable(socket, 0) != ReadyState::kTimeout) return false;
  error = SocketError::kTimeout;
  return true;
}

}  // namespace

std::int64_t ReceiveOnce(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                         std::size_t secondSize, SocketError& error) {
  if (secondSize == 0) return ReceivePlain(socket, first, firstSize, error);
  // A stream socket fills the buffers in order and returns with what has
  // arrived, as recv does; no overlapped I/O, so the call blocks like recv.
  WSABUF parts[2];
  parts[0].len = static_cast<ULONG>(ClampSize(firstSize));
  parts[0].buf = static_cast<char*>(first);
  parts[1].len = static_cast<ULONG>(ClampSize(secondSize));
  parts[1].buf = static_cast<char*>(second);
  DWORD received = 0;
  DWORD flags = 0;
  if (WSARecv(Sock(socket), parts, 2, &received, &flags, nullptr, nullptr) == SOCKET_ERROR) {
    error = ClassifySocketError(WSAGetLastError());
    return -1;
  }
  error = SocketError::kNone;
  return static_cast<std::int64_t>(received);
}

std::int64_t ReceiveNow(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                        std::size_t secondSize, SocketError& error) {
  return NothingWaiting(socket, error) ? -1
                                       : ReceiveOnce(socket, first, firstSize, second, secondSize, error);
}

std::int64_t ReceiveWithin(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                           std::size_t secondSize, std::uint32_t timeoutMs, SocketError& error) {
  // A shutdown does not end a receive blocked in another thread here; the
  // readiness wait notices it within one slice.
  if (WaitReadable(socket, timeoutMs) == ReadyState::kTimeout) {
    error = SocketError::kTimeout;
    return -1;
  }
  return ReceiveOnce(socket, first, firstSize, second, secondSize, error);
}

void ShutdownSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  {
    ShutDownSockets& down = ShutDown();
    std::lock_guard<std::mutex> lock(down.mutex);
    if (std::find(down.handles.begin(), down.handles.end(), Sock(socket)) == down.handles.end()) {
      down.handles.push_back(Sock(socket));
    }
  }
  shutdown(Sock(socket), SD_BOTH);
}

void CloseSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  {
    // The handle number may be reused by the next socket at once.
    ShutDownSockets& down = ShutDown();
    std::lock_guard<std::mutex> lock(down.mutex);
    down.handles.erase(std::remove(down.handles.begin(), down.handles.end(), Sock(socket)),
                       down.handles.end());
  }
  closesocket(Sock(socket));
}

}  // namespace platform
}  // namespace quorvel
