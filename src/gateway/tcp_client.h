// TCPClient: the one TCP connection to the Gateway: connect within the
// device's connectTimeout, write one frame per call, read exact byte counts.
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

#include "infra/platform/tcp_socket.h"
#include "strevon.h"

namespace quorvel {

class TCPClient {
 public:
  // Waits up to the given milliseconds; true when the caller wants the
  // connection attempt abandoned (its thread is being stopped).
  using AbortableWait = std::function<bool(std::uint32_t)>;
  // True when the reading thread is being stopped.
  using StopCheck = std::function<bool()>;

  static constexpr int kReceiveBufferSize = 65536;
  static constexpr std::uint32_t kSocketTimeoutMs = 5000;
  static constexpr std::uint32_t kConnectPollMs = 100;
  // How often a blocked read looks at its StopCheck.
  static constexpr std::uint32_t kStopCheckMs = 100;

  TCPClient() = default;
  virtual ~TCPClient();

  TCPClient(const TCPClient&) = delete;
  TCPClient& operator=(const TCPClient&) = delete;

  // Owner thread. Opens the socket and connects, polling every 100 ms for
  // connectTimeout / 100 polls. A refused or unreachable Gateway is not
  // told apart from a slow one: it costs the full connectTimeout. wait
  // replaces the plain 100 ms sleep between polls, so that a stopping owner
  // can abandon the attempt within one poll.
  bool Connect(const DEVICE_INFO& info, const AbortableWait& wait = AbortableWait());

  // Sender thread. One send of all bytes; a partial send counts as failed
  // and nothing is retried.
  bool Send(const std::vector<char>& bytes);

  // Receiver thread. Reads exactly count bytes into out. Fails, keeping the
  // socket, after 5000 ms without data or when stop reports true (checked
  // every 100 ms). A reset, a lost network or an orderly close takes the
  // socket out of use, also after part of the bytes were read, so that the
  // loss is reported once and nobody keeps reading a dead socket.
  bool Receive(std::vector<char>& out, int count, const StopCheck& stop = StopCheck());
  // Receiver thread. Reads at least one and at most size bytes: what the
  // stack holds already (one system call on a busy stream), else the first
  // bytes to arrive. 0 under the same conditions that fail Receive.
  std::size_t ReceiveSome(char* buffer, std::size_t size, const StopCheck& stop = StopCheck());

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

  // The device info of the last Connect. Owner thread.
  const DEVICE_INFO& GetDeviceInfo() const { return m_deviceInfo; }

 private:
  void MarkLost(platform::SocketHandle socket);

  // Read by every thread; written by the owner (Connect, Close) and by the
  // receiver (MarkLost).
  std::atomic<platform::SocketHandle> m_socket{platform::kInvalidSocket};
  // A socket taken out of use by MarkLost, waiting for Close to release it.
  std::atomic<platform::SocketHandle> m_retired{platform::kInvalidSocket};
  // Owner thread only.
  DEVICE_INFO m_deviceInfo;
};

}  // namespace quorvel
