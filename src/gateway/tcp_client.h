// TCPClient: the one TCP connection to the Gateway: connect within the
// device's connectTimeout, write one frame per call, read exact byte counts.
// A host name is looked up on a thread of its own (platform::NameLookup),
// so that neither a hanging resolver nor a stopping owner is ever kept
// waiting for longer than the connectTimeout or one 100 ms poll.
//
// Embedded in and owned by CSendReceiveBase. Three threads use it at once
// without a lock: the owner's thread connects and closes, the Gateway
// client's receiver thread reads, its sender thread writes.
//
// Handle lifetime: losing the connection (a reset or an orderly close seen
// by Receive) or Shutdown only shuts the socket down, which wakes a blocked
// read or write at once; a lost socket is also taken out of use, so
// IsConnected turns false. The descriptor itself is released only by Close,
// which the owner calls after it has stopped every thread that uses the
// socket, so no thread can read or write a descriptor number that the OS
// has meanwhile handed out again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "infra/device_info.h"
#include "infra/platform/tcp_socket.h"

namespace quorvel {

class TCPClient {
 public:
  // Waits up to the given milliseconds; true when the caller wants the
  // connection attempt abandoned (its thread is being stopped).
  using AbortableWait = std::function<bool(std::uint32_t)>;
  // True when the reading thread is being stopped.
  using StopCheck = std::function<bool()>;

  // Why the last Connect failed, for the owner's log.
  enum class Failure {
    kNone,
    kNoAddress,        // the name has no usable IPv4 address
    kLookupTimedOut,   // the name lookup took longer than connectTimeout
    kLookupsBusy,      // too many other names are being looked up
    kAborted,          // the AbortableWait asked to give up
    kNoConnection,     // no socket, or refused, unreachable or too slow
  };

  static constexpr int kReceiveBufferSize = 65536;
  static constexpr std::uint32_t kSocketTimeoutMs = 5000;
  static constexpr std::uint32_t kConnectPollMs = 100;
  // How often a blocked read looks at its StopCheck.
  static constexpr std::uint32_t kStopCheckMs = 100;

  // How a read waits for bytes that have not arrived yet.
  enum class ReadWait {
    // In kStopCheckMs slices, asking the StopCheck after each: for owners
    // that may stop a reader without shutting the socket down.
    kSliced,
    // In the receive call itself, which Shutdown ends at once: one system
    // call per read, idle stream or busy. For owners that shut the socket
    // down whenever they stop its reader; the StopCheck is asked only
    // before the wait.
    kUntilShutdown,
  };

  explicit TCPClient(ReadWait readWait = ReadWait::kSliced) : m_readWait(readWait) {}
  virtual ~TCPClient();

  TCPClient(const TCPClient&) = delete;
  TCPClient& operator=(const TCPClient&) = delete;

  // Owner thread. Resolves the address (a name: waiting for its lookup in
  // 100 ms slices, at most connectTimeout), opens the socket and connects,
  // polling every 100 ms for connectTimeout / 100 polls. A refused or
  // unreachable Gateway is not told apart from a slow one: it costs the
  // full connectTimeout. wait replaces the plain 100 ms sleep of every
  // slice and poll, so that a stopping owner can abandon the attempt within
  // one of them.
  bool Connect(const DEVICE_INFO& info, const AbortableWait& wait = AbortableWait());
  // Owner thread: why the last Connect failed (kNone after a success).
  Failure LastFailure() const { return m_failure; }

  // Sender thread. One send of all bytes; a partial send counts as failed
  // and nothing is retried.
  bool Send(const std::vector<char>& bytes);

  // Receiver thread. Reads exactly count bytes into out. Fails, keeping the
  // socket, after 5000 ms without data or when stop reports true (checked
  // before every read and, with kSliced, every 100 ms of a wait). A reset,
  // a lost network or an orderly close takes the socket out of use, also
  // after part of the bytes were read, so that the loss is reported once
  // and nobody keeps reading a dead socket.
  bool Receive(std::vector<char>& out, int count, const StopCheck& stop = StopCheck());
  // Receiver thread. Reads at least one and at most size bytes: what the
  // stack holds already (one system call on a busy stream), else the first
  // bytes to arrive. 0 under the same conditions that fail Receive.
  std::size_t ReceiveSome(char* buffer, std::size_t size, const StopCheck& stop = StopCheck());
  // The same into two places in one system call: the bytes fill first
  // before any goes to second, so that the rest of a large block and what
  // follows it on the stream arrive together. Returns the total.
  std::size_t ReceiveSome(char* first, std::size_t firstSize, char* second,
                          std::size_t secondSize, const StopCheck& stop = StopCheck());

  // Any thread.
  bool IsConnected() const { return m_socket.load() != platform::kInvalidSocket; }

  // Any thread: shuts the socket down so that blocked reads and writes
  // return now. The socket stays in place (IsConnected unchanged) until the
  // receiver notices the loss or the owner closes it.
  void Shutdown();

  // Owner thread, once no other thread uses the socket: shuts it down and
  // releases the descriptor.
  void Close();
  // Close; kept apart because a Winsock backend also ends its library use
  // here.
  void Cleanup();
  // Owner thread, when a thread that may still use the socket outlives this
  // object: shuts the socket down and lets go of it without releasing the
  // descriptor, so that its number is never handed out again under that
  // thread. Costs one descriptor; the exception, never the rule.
  void Abandon();

  // The device info of the last Connect. Owner thread.
  const DEVICE_INFO& GetDeviceInfo() const { return m_deviceInfo; }

 private:
  void MarkLost(platform::SocketHandle socket);
  // What a receive's result means for ReceiveSome: the count, or 0 after
  // marking an orderly close or a loss.
  std::size_t Received(platform::SocketHandle socket, std::int64_t got, platform::SocketError error);
  bool Resolve(const DEVICE_INFO& info, const AbortableWait& wait, std::uint32_t& address);
  bool Fail(Failure why) {
    m_failure = why;
    return false;
  }

  // Read by every thread; written by the owner (Connect, Close) and by the
  // receiver (MarkLost).
  std::atomic<platform::SocketHandle> m_socket{platform::kInvalidSocket};
  // A socket taken out of use by MarkLost, waiting for Close to release it.
  std::atomic<platform::SocketHandle> m_retired{platform::kInvalidSocket};
  const ReadWait m_readWait;
  // Owner thread only.
  DEVICE_INFO m_deviceInfo;
  Failure m_failure = Failure::kNone;
};

}  // namespace quorvel
