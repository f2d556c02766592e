// A scripted Gateway on 127.0.0.1. Every wait has a deadline so a broken
// client cannot hang a test.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <utility>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "gateway/wire_format.h"
#include "infra/device_info.h"

namespace quorvel {
namespace test_support {

// The few socket calls that differ between Winsock and POSIX.
namespace sockets {
#if defined(_WIN32)
constexpr int kNoSignal = 0;
inline int Open() {
  WSADATA data;
  static const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  return started ? static_cast<int>(socket(AF_INET, SOCK_STREAM, 0)) : -1;
}
inline int Accept(int fd) { return static_cast<int>(accept(static_cast<SOCKET>(fd), nullptr, nullptr)); }
inline void Close(int fd) { closesocket(static_cast<SOCKET>(fd)); }
inline bool WaitReadable(int fd, int ms) {
  WSAPOLLFD entry{static_cast<SOCKET>(fd), POLLRDNORM, 0};
  return WSAPoll(&entry, 1, ms) > 0;
}
inline void SetReceiveTimeout(int fd, int ms) {
  const DWORD timeout = ms == 0 ? 1 : static_cast<DWORD>(ms);  // 0 would block
  setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_RCVTIMEO,
             reinterpret_cast<const char*>(&timeout), sizeof(timeout));
}
inline bool TimedOut() {
  const int error = WSAGetLastError();
  return error == WSAETIMEDOUT || error == WSAEWOULDBLOCK;
}
#else
constexpr int kNoSignal = MSG_NOSIGNAL;
inline int Open() { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
inline int Accept(int fd) { return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
inline void Close(int fd) { close(fd); }
inline bool WaitReadable(int fd, int ms) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, ms) > 0;
}
inline void SetReceiveTimeout(int fd, int ms) {
  const timeval timeout{ms / 1000, (ms % 1000) * 1000 + (ms == 0 ? 1 : 0)};  // 0 would block
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
}
inline bool TimedOut() { return errno == EAGAIN || errno == EWOULDBLOCK; }
#endif
}  // namespace sockets

inline std::vector<char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

inline DEVICE_INFO Loopback(std::uint16_t port, std::uint32_t connectTimeout = 2000) {
  DEVICE_INFO info;
  info.address = "127.0.0.1";
  info.port = port;
  info.connectTimeout = connectTimeout;
  return info;
}

inline std::vector<char> LengthBytes(std::uint32_t length) {
  unsigned char bytes[wire::kLengthSize];
  wire::PutUint32Le(bytes, length);
  return std::vector<char>(bytes, bytes + wire::kLengthSize);
}

template <typename Bytes>
void Append(std::vector<char>& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

inline std::vector<char> Marker() {
  return std::vector<char>(wire::kStartMarker, wire::kStartMarker + wire::kStartMarkerSize);
}

// One server message as the Gateway writes it: marker, header block, body block.
inline std::vector<char> ServerFrame(const std::string& headers, const std::string& body = "",
                                     bool withMarker = true) {
  std::vector<char> frame = withMarker ? Marker() : std::vector<char>();
  Append(frame, LengthBytes(static_cast<std::uint32_t>(headers.size())));
  Append(frame, headers);
  Append(frame, LengthBytes(static_cast<std::uint32_t>(body.size())));
  Append(frame, body);
  return frame;
}

inline std::vector<char> ResponseFrame(const std::string& command, const std::string& body = "") {
  return ServerFrame("Response: " + command + "\r\n", body);
}

class LoopbackPeer {
 public:
  explicit LoopbackPeer(int fd = -1) : m_fd(fd) {}
  ~LoopbackPeer() { Close(); }
  LoopbackPeer& operator=(LoopbackPeer&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
  }

  bool IsOpen() const { return m_fd >= 0; }

  bool Write(const std::vector<char>& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const auto n = send(m_fd, bytes.data() + done, static_cast<int>(bytes.size() - done),
                          sockets::kNoSignal);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool ReadRequest(std::string& text, int timeoutMs) {
    unsigned char length[wire::kLengthSize];
    SetReceiveTimeout(timeoutMs);
    if (recv(m_fd, reinterpret_cast<char*>(length), sizeof length, MSG_WAITALL) !=
        static_cast<int>(sizeof length)) {
      return false;
    }
    text.assign(wire::GetUint32Le(length), '\0');
    return recv(m_fd, &text[0], static_cast<int>(text.size()), MSG_WAITALL) ==
           static_cast<int>(text.size());
  }

  // True when the client closed or reset its side in time; data before that is dropped.
  bool WaitForClose(int timeoutMs) {
    char buffer[256];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (SetReceiveTimeout(50); std::chrono::steady_clock::now() < deadline;) {
      const auto n = recv(m_fd, buffer, sizeof(buffer), 0);
      if (n == 0 || (n < 0 && !sockets::TimedOut())) return true;
    }
    return false;
  }

  // The peer vanishes with an RST instead of a FIN.
  void Reset() {
    linger abortive{1, 0};
    if (m_fd >= 0) {
      setsockopt(m_fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
                 sizeof(abortive));
    }
    Close();
  }

  void Close() {
    if (m_fd >= 0) sockets::Close(m_fd);
    m_fd = -1;
  }

 private:
  void SetReceiveTimeout(int ms) { sockets::SetReceiveTimeout(m_fd, ms); }

  int m_fd;
};

class LoopbackListener {
 public:
  LoopbackListener() : m_fd(sockets::Open()) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    sockaddr* raw = reinterpret_cast<sockaddr*>(&address);
    if (m_fd >= 0 && bind(m_fd, raw, length) == 0 && listen(m_fd, 8) == 0 &&
        getsockname(m_fd, raw, &length) == 0) {
      m_port = ntohs(address.sin_port);
    }
  }
  ~LoopbackListener() { if (m_fd >= 0) sockets::Close(m_fd); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::uint16_t Port() const { return m_port; }

  LoopbackPeer Accept(int timeoutMs) {
    if (m_fd < 0 || !sockets::WaitReadable(m_fd, timeoutMs)) return LoopbackPeer();
    return LoopbackPeer(sockets::Accept(m_fd));
  }

 private:
  int m_fd;
  std::uint16_t m_port = 0;
};

inline std::uint16_t ClosedLoopbackPort() { return LoopbackListener().Port(); }

}  // namespace test_support
}  // namespace quorvel
