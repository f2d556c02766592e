// CSendReceiveBase: message framing on top of the TCP transport: writes one
// ClientMessage per call and reads one ServerMessage at a time, searching
// for the start marker when the protocol level asks for it.
//
// It is also a thread object, so that the Gateway client can run its
// receiver loop in it (ThreadFunction here returns at once); the capability
// query uses it directly for a short synchronous exchange. Owns its
// transport. Connect, Disconnect and the protocol level belong to the
// owner's thread; the read functions belong to the reading thread (the
// object's own thread when one runs) and give up promptly once that
// thread's stop event is signalled or the socket is shut down.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "gateway/client_message.h"
#include "gateway/read_buffer.h"
#include "gateway/server_message.h"
#include "gateway/tcp_client.h"
#include "infra/base_thread.h"
#include "infra/device_info.h"
#include "infra/event.h"

namespace quorvel {

class CSendReceiveBase : public CBaseThread {
 public:
  static constexpr int kDefaultProtocolLevel = 4;

  CSendReceiveBase() = default;
  CSendReceiveBase(const CSendReceiveBase&) = delete;
  CSendReceiveBase& operator=(const CSendReceiveBase&) = delete;
  // Shuts the socket down, stops the thread, then releases the socket;
  // a thread that overstays its stop keeps the descriptor for good.
  ~CSendReceiveBase() override;

  virtual bool Connect(const DEVICE_INFO& info);
  // Closes the socket and drops what is buffered; stops no thread, so the
  // caller makes sure that none still reads.
  virtual void Disconnect();
  // Writes the message's frame; false when there is no socket or the
  // stack took only part of it. The message stays the caller's.
  virtual bool Send(ClientMessage& message);

  // The next 4 bytes as a little-endian length; 0 when they cannot be read.
  // It runs twice per message and leaves the stop event to its callers and
  // to the socket read, which looks at it before it would block.
  std::uint32_t ReadLength();
  // One length-prefixed block; false on a stop, a failed read, or a length
  // of 0 or above the wire limit (nothing is allocated for those).
  bool ReadBlock(std::vector<char>& out);
  // Reads until the last 15 bytes are the start marker. Any number of bytes
  // may be skipped; false when the stop event is signalled, the socket is
  // gone or a read fails.
  bool WaitForMessageStart();
  // Reads one header block and one body block into message and parses it;
  // true when the message has a command. A header block of 512 bytes or
  // more is read and dropped and its body is left unread. The blocks go
  // into the message's own storage, which is reused: pass the same message
  // every time.
  bool ReceiveMessage(ServerMessage& message);
  // ReceiveMessage with the body left in the stream: the message's body is
  // pending (ServerMessage::SetPendingBody), so that a receiver can take it
  // straight into its own storage. EndMessage must follow before the next
  // read, on this thread.
  bool ReceiveMessageHead(ServerMessage& message);
  // Drops the pending body that no receiver took.
  void EndMessage(ServerMessage& message) { message.EndPendingBody(); }

  // Set by the owner before connecting; read by the reading thread.
  int GetProtocolLevel() const { return m_protocolLevel.load(); }
  void SetProtocolLevel(int level) { m_protocolLevel.store(level); }

  // While this event is signalled a Connect in progress gives up within one
  // 100 ms poll, and a new one fails at the first poll. The owner passes
  // an event that outlives this object (the capture driver: its worker
  // thread's stop event); null (the default) lets every attempt run its
  // full course.
  void SetConnectAbortEvent(CEvent* event) { m_connectAbort.store(event); }

  bool IsConnected() const { return m_transport.IsConnected(); }
  TCPClient& Transport() { return m_transport; }

 protected:
  void ThreadFunction() override {}

 private:
  // The pending bodies' view of the reading thread's buffer.
  class PendingBodyReader final : public ServerMessage::BodyStream {
   public:
    explicit PendingBodyReader(ReadBuffer& reader) : m_reader(reader) {}
    bool ReadBody(char* destination, std::size_t size) override { return m_reader.Read(destination, size); }
    bool SkipBody(std::size_t size) override { return m_reader.Skip(size); }

   private:
    ReadBuffer& m_reader;
  };

  bool ReceiveBytes(char* out, std::uint32_t count);
  // The header block and the body length; false when either is missing.
  bool ReceiveHead(ServerMessage& message, std::uint32_t& bodyLength);

  DEVICE_INFO m_deviceInfo;  // owner thread only
  // Every stop of the reading thread shuts the socket down (Disconnect,
  // the destructor), so a read may wait inside the receive call.
  TCPClient m_transport{TCPClient::ReadWait::kUntilShutdown};
  // Reading thread; reset by Connect and Disconnect, while no thread reads.
  ReadBuffer m_reader{[this](char* first, std::size_t firstSize, char* second,
                             std::size_t secondSize) {
    return m_transport.ReceiveSome(first, firstSize, second, secondSize,
                                   [this] { return IsStopSignalled(); });
  }};
  PendingBodyReader m_bodyReader{m_reader};
  std::atomic<int> m_protocolLevel{kDefaultProtocolLevel};
  std::atomic<CEvent*> m_connectAbort{nullptr};
};

}  // namespace quorvel
