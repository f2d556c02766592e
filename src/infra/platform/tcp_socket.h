// TcpSocket: the TCP socket calls of the Gateway transport, behind an
// OS-neutral surface. Only IPv4 stream sockets; the transport above decides
// timing and framing, this layer only makes the calls and says what a
// failure means (ClassifySocketError).
//
// A handle is a plain value: these functions never own it. Its owner (the
// Gateway transport) opens it, hands it to as many threads as it likes and
// closes it once no thread can still use it. Every function may be called
// from any thread; a receive and a send may run on one handle at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {
namespace platform {

// Wide enough for a POSIX descriptor and a Winsock SOCKET; -1 is the
// invalid value of both (descriptor 0 is a valid socket here).
using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// What a failed socket call means to its caller.
enum class SocketError {
  kNone,
  kTimeout,         // nothing arrived or could be sent within the time-out
  kConnectionLost,  // reset, not connected, network down, broken pipe
  kOther,
};

SocketError ClassifySocketError(int osError);

enum class ConnectState {
  kConnected,
  kPending,  // still under way; poll again later
  kFailed,
};

enum class ReadyState {
  kReady,  // readable, or an error or hang-up is pending (the next read says which)
  kTimeout,
  kFailed,
};

// Makes the socket calls usable in this process: Winsock 2.2 is started
// once per process and never cleaned up (a host may still hold sockets of
// its own); nothing to do elsewhere. False when sockets are unavailable.
bool InitializeSockets();

// A new IPv4 stream socket, or kInvalidSocket.
SocketHandle OpenTcpSocket();

bool SetReceiveBufferSize(SocketHandle socket, int bytes);
bool SetReceiveTimeout(SocketHandle socket, std::uint32_t timeoutMs);
bool SetSendTimeout(SocketHandle socket, std::uint32_t timeoutMs);
bool SetBlocking(SocketHandle socket, bool blocking);

// Switches the socket to non-blocking mode and starts a connection.
ConnectState StartConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port);
// Zero-time check of a connection started by StartConnect. A socket that
// becomes writable with a pending error reports kFailed; the pending error
// is consumed by the check, so callers must remember a kFailed result
// rather than poll again (a second check would see the socket writable and
// error-free).
ConnectState PollConnect(SocketHandle socket);

// Waits up to timeoutMs for data, an orderly close or an error.
ReadyState WaitReadable(SocketHandle socket, std::uint32_t timeoutMs);

// One send without SIGPIPE: the number of bytes taken, or -1 with error set.
std::int64_t SendOnce(SocketHandle socket, const void* data, std::size_t size, SocketError& error);
// One receive into two places (a scatter read): the bytes fill first
// (firstSize) before any of them goes to second (secondSize), so that a
// reader can take the rest of a block and what follows it in one call.
// Without a second part (secondSize 0) it is the plain receive, which
// costs the kernel a little less to set up. The number of bytes read, 0
// when the peer closed in an orderly way, or -1 with error set. An
// interrupted call is repeated.
std::int64_t ReceiveOnce(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                         std::size_t secondSize, SocketError& error);
// The same without waiting: what the stack holds now, or -1 with
// kTimeout when nothing is there yet.
std::int64_t ReceiveNow(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                        std::size_t secondSize, SocketError& error);
// Waits for bytes, an orderly close or an error, then receives as
// ReceiveOnce does. The wait ends after timeoutMs, which must be the
// socket's receive time-out (where the system waits inside the receive
// call, that time-out is what bounds it), or at once when another thread
// shuts the socket down; -1 with kTimeout when nothing came.
std::int64_t ReceiveWithin(SocketHandle socket, void* first, std::size_t firstSize, void* second,
                           std::size_t secondSize, std::uint32_t timeoutMs, SocketError& error);

// Ends both directions. WaitReadable and ReceiveWithin in another thread
// return at once, and so does any receive or send blocked on a POSIX
// socket. The handle stays allocated.
void ShutdownSocket(SocketHandle socket);
// Releases the handle. Callers make sure no other thread still uses it: the
// number may be reused by the next socket or file at once.
void CloseSocket(SocketHandle socket);

}  // namespace platform
}  // namespace quorvel
