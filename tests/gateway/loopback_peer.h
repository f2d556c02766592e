// Test scaffolding: a scripted Gateway on 127.0.0.1. A listener accepts
// connections; a peer reads request frames and writes server messages,
// raw bytes, an orderly close or a reset, exactly as a test scripts them.
// Every wait has a deadline so a broken client cannot hang a test.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "gateway/wire_format.h"

namespace quorvel {
namespace testing_support {

inline std::vector<char> LengthBytes(std::uint32_t length) {
  unsigned char bytes[wire::kLengthSize];
  wire::PutUint32Le(bytes, length);
  return std::vector<char>(bytes, bytes + wire::kLengthSize);
}

inline void Append(std::vector<char>& out, const std::vector<char>& more) {
  out.insert(out.end(), more.begin(), more.end());
}

inline void Append(std::vector<char>& out, const std::string& more) {
  out.insert(out.end(), more.begin(), more.end());
}

inline std::vector<char> Marker() {
  return std::vector<char>(wire::kStartMarker, wire::kStartMarker + wire::kStartMarkerSize);
}

// One server message as the Gateway writes it: marker, header block, body
// block (length 0 when body is empty).
inline std::vector<char> ServerFrame(const std::string& headers, const std::string& body = "",
                                     bool withMarker = true) {
  std::vector<char> frame;
  if (withMarker) Append(frame, Marker());
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
  LoopbackPeer(LoopbackPeer&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  LoopbackPeer& operator=(LoopbackPeer&& other) noexcept {
    if (this != &other) {
      Close();
      m_fd = other.m_fd;
      other.m_fd = -1;
    }
    return *this;
  }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  bool IsOpen() const { return m_fd >= 0; }

  bool Write(const std::vector<char>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Exactly count bytes within timeoutMs.
  bool ReadExact(std::size_t count, std::vector<char>& out, int timeoutMs) {
    out.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
      if (left <= 0) return false;
      pollfd entry{m_fd, POLLIN, 0};
      if (poll(&entry, 1, left) <= 0) continue;
      char buffer[4096];
      const std::size_t want = std::min(sizeof(buffer), count - out.size());
      const ssize_t n = recv(m_fd, buffer, want, 0);
      if (n <= 0) return false;
      out.insert(out.end(), buffer, buffer + n);
    }
    return true;
  }

  // One request frame's text, or false when none arrived in time.
  bool ReadRequest(std::string& text, int timeoutMs) {
    std::vector<char> bytes;
    if (!ReadExact(wire::kLengthSize, bytes, timeoutMs)) return false;
    const std::uint32_t length = wire::GetUint32Le(reinterpret_cast<unsigned char*>(bytes.data()));
    if (!ReadExact(length, bytes, timeoutMs)) return false;
    text.assign(bytes.begin(), bytes.end());
    return true;
  }

  // True when the client closed its side (or reset it) within timeoutMs;
  // any data that arrives first is read and dropped.
  bool WaitForClose(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd entry{m_fd, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      char buffer[256];
      if (recv(m_fd, buffer, sizeof(buffer), 0) <= 0) return true;
    }
    return false;
  }

  // The peer vanishes with an RST instead of a FIN.
  void Reset() {
    if (m_fd < 0) return;
    linger abortive{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    Close();
  }

  void Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
};

class LoopbackListener {
 public:
  LoopbackListener() {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_fd, 8) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    m_port = ntohs(address.sin_port);
  }
  ~LoopbackListener() { Close(); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::uint16_t Port() const { return m_port; }

  LoopbackPeer Accept(int timeoutMs) {
    pollfd entry{m_fd, POLLIN, 0};
    if (m_fd < 0 || poll(&entry, 1, timeoutMs) <= 0) return LoopbackPeer();
    return LoopbackPeer(accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
  }

  void Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd = -1;
  std::uint16_t m_port = 0;
};

// A loopback port that nothing listens on (bound once, then released).
inline std::uint16_t ClosedLoopbackPort() {
  LoopbackListener probe;
  return probe.Port();
}

}  // namespace testing_support
}  // namespace quorvel
