#include "infra/platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace quorvel {
namespace platform {

namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

bool SetTimeout(SocketHandle socket, int option, std::uint32_t timeoutMs) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeoutMs / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
  return setsockopt(Fd(socket), SOL_SOCKET, option, &tv, sizeof(tv)) == 0;
}

int ClampTimeout(std::uint32_t timeoutMs) {
  return timeoutMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
}

}  // namespace

SocketError ClassifySocketError(int osError) {
  switch (osError) {
    case 0:
      return SocketError::kNone;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return SocketError::kTimeout;
    // ETIMEDOUT is not the receive time-out here (that one is EAGAIN): it
    // means TCP gave up retransmitting, so the connection is gone.
    case ETIMEDOUT:
    case ECONNRESET:
    case ENOTCONN:
    case ENETDOWN:
    case EPIPE:
    case ECONNABORTED:
      return SocketError::kConnectionLost;
    default:
      return SocketError::kOther;
  }
}

bool InitializeSockets() { return true; }

SocketHandle OpenTcpSocket() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

bool SetReceiveBufferSize(SocketHandle socket, int bytes) {
  return setsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, std::uint32_t timeoutMs) {
  return SetTimeout(socket, SO_RCVTIMEO, timeoutMs);
}

bool SetSendTimeout(SocketHandle socket, std::uint32_t timeoutMs) {
  return SetTimeout(socket, SO_SNDTIMEO, timeoutMs);
}

bool SetBlocking(SocketHandle socket, bool blocking) {
  const int flags = fcntl(Fd(socket), F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return wanted == flags || fcntl(Fd(socket), F_SETFL, wanted) == 0;
}

ConnectState StartConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  if (!SetBlocking(socket, false)) return ConnectState::kFailed;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = address;
  if (connect(Fd(socket), reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == 0) {
    return ConnectState::kConnected;
  }
  return errno == EINPROGRESS ? ConnectState::kPending : ConnectState::kFailed;
}

ConnectState PollConnect(SocketHandle socket) {
  pollfd entry{};
  entry.fd = Fd(socket);
  entry.events = POLLOUT;
  const int ready = poll(&entry, 1, 0);
  if (ready < 0) return errno == EINTR ? ConnectState::kPending : ConnectState::kFailed;
  if (ready == 0) return ConnectState::kPending;
  int pending = 0;
  socklen_t length = sizeof(pending);
  if (getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &pending, &length) != 0 || pending != 0) {
    return ConnectState::kFailed;
  }
  return (entry.revents & POLLOUT) != 0 ? ConnectState::kConnected : ConnectState::kFailed;
}

ReadyState WaitReadable(SocketHandle socket, std::uint32_t timeoutMs) {
  pollfd entry{};
  entry.fd = Fd(socket);
  entry.events = POLLIN;
  const int ready = poll(&entry, 1, ClampTimeout(timeoutMs));
  if (ready > 0) return ReadyState::kReady;
  if (ready == 0 || errno == EINTR) return ReadyState::kTimeout;
  return ReadyState::kFailed;
}

namespace {

// Makes a send or receive call, repeating it when a signal interrupted it,
// and says what a failure means.
template <typename Call>
std::int64_t Retried(Call call, SocketError& error) {
  ssize_t done;
  do {
    done = call();
  } while (done < 0 && errno == EINTR);
  error = done < 0 ? ClassifySocketError(errno) : SocketError::kNone;
  return static_cast<std::int64_t>(done);
}

std::int64_t ReceiveWithFlags(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                              std::size_t secondSize, int flags, SocketError& error) {
  if (secondSize == 0) {
    return Retried([&] { return recv(Fd(socket), first, firstSize, flags); }, error);
  }
  iovec parts[2] = {{first, firstSize}, {second, secondSize}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  return Retried([&] { return recvmsg(Fd(socket), &message, flags); }, error);
}

}  // namespace

std::int64_t SendOnce(SocketHandle socket, const void* data, std::size_t size, SocketError& error) {
  return Retried([&] { return send(Fd(socket), data, size, MSG_NOSIGNAL); }, error);
}

std::int64_t ReceiveOnce(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                         std::size_t secondSize, SocketError& error) {
  return ReceiveWithFlags(socket, first, firstSize, second, secondSize, 0, error);
}

std::int64_t ReceiveNow(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                        std::size_t secondSize, SocketError& error) {
  return ReceiveWithFlags(socket, first, firstSize, second, secondSize, MSG_DONTWAIT, error);
}

std::int64_t ReceiveWithin(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                           std::size_t secondSize, std::uint32_t /*timeoutMs*/, SocketError& error) {
  // A shutdown wakes a receive blocked in another thread, and SO_RCVTIMEO
  // bounds it: the wait happens inside the one call.
  return ReceiveOnce(socket, first, firstSize, second, secondSize, error);
}

void ShutdownSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) shutdown(Fd(socket), SHUT_RDWR);
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) close(Fd(socket));
}

}  // namespace platform
}  // namespace quorvel
