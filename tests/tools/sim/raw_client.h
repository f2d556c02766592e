// A minimal Gateway client for the simulator's tests: a blocking socket with
// deadlines, request framing and server-message reading written out here on
// purpose, so that the tests check the simulator's bytes against an
// independent reading of the format rather than against its own encoder.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace strevon {
namespace sim {
namespace test {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr unsigned char kMarker[15] = {0x07, 0x00, 0x00, 0x00, 'M', 'e', 's', 's',
                                       'a',  'g',  'e',  0x00, 0x00, 0x00, 0x00};

struct Message {
  std::string header_text;
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<unsigned char> body;

  std::string Get(const std::string& key) const {
    std::string value;
    for (const auto& h : headers) {
      if (h.first == key) value = h.second;
    }
    return value;
  }
  bool Has(const std::string& key) const {
    for (const auto& h : headers) {
      if (h.first == key) return true;
    }
    return false;
  }
  std::string BodyText() const { return std::string(body.begin(), body.end()); }
};

// How the connection ended when a read failed.
enum class ReadEnd { kNone, kTimeout, kEof, kReset, kError };

class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Returns 0 on success, otherwise the errno of connect.
  int Connect(std::uint16_t port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return errno;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
      const int e = errno;
      Close();
      return e;
    }
    return 0;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool SendRaw(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // One request frame: u32 LE length, then the text.
  bool Send(const std::string& text) {
    std::string frame(4, '\0');
    const std::uint32_t n = static_cast<std::uint32_t>(text.size());
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    return SendRaw(frame + text);
  }

  // Reads exactly n bytes before the deadline.
  bool ReadExact(std::size_t n, Clock::time_point deadline, std::vector<unsigned char>* out) {
    out->clear();
    while (out->size() < n) {
      const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
      if (left <= 0) {
        end_ = ReadEnd::kTimeout;
        return false;
      }
      pollfd p = {fd_, POLLIN, 0};
      const int r = ::poll(&p, 1, static_cast<int>(left));
      if (r == 0) continue;
      unsigned char buf[65536];
      const std::size_t want = std::min(sizeof(buf), n - out->size());
      const ssize_t got = ::recv(fd_, buf, want, 0);
      if (got > 0) {
        out->insert(out->end(), buf, buf + got);
        continue;
      }
      if (got == 0) {
        end_ = ReadEnd::kEof;
      } else if (errno == ECONNRESET) {
        end_ = ReadEnd::kReset;
      } else if (errno == EINTR || errno == EAGAIN) {
        continue;
      } else {
        end_ = ReadEnd::kError;
      }
      return false;
    }
    return true;
  }

  static std::uint32_t U32(const std::vector<unsigned char>& b) {
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  }

  // Reads one message. With marker, the next 15 bytes must be the start
  // marker exactly (no skipping: the simulator must not send stray bytes).
  std::optional<Message> Read(Ms timeout = Ms(3000), bool marker = true) {
    const auto deadline = Clock::now() + timeout;
    std::vector<unsigned char> b;
    if (marker) {
      if (!ReadExact(15, deadline, &b)) return std::nullopt;
      if (std::memcmp(b.data(), kMarker, 15) != 0) {
        bad_marker_ = true;
        return std::nullopt;
      }
    }
    return ReadAfterMarker(deadline);
  }

  std::optional<Message> ReadAfterMarker(Clock::time_point deadline) {
    std::vector<unsigned char> b;
    if (!ReadExact(4, deadline, &b)) return std::nullopt;
    const std::uint32_t h = U32(b);
    if (h == 0 || h > 0xFFFFF) return std::nullopt;
    Message m;
    if (!ReadExact(h, deadline, &b)) return std::nullopt;
    m.header_text.assign(b.begin(), b.end());
    ParseHeaders(&m);
    if (!ReadExact(4, deadline, &b)) return std::nullopt;
    const std::uint32_t len = U32(b);
    if (len > 0xFFFFF) return std::nullopt;
    if (!ReadExact(len, deadline, &m.body)) return std::nullopt;
    return m;
  }

  // Reads messages until one matches; others are dropped.
  std::optional<Message> ReadUntil(const std::function<bool(const Message&)>& match, Ms timeout = Ms(3000),
                                   bool marker = true) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      auto m = Read(std::chrono::duration_cast<Ms>(deadline - Clock::now()), marker);
      if (!m) return std::nullopt;
      if (match(*m)) return m;
    }
    return std::nullopt;
  }

  std::optional<Message> ReadResponse(const std::string& response, Ms timeout = Ms(3000), bool marker = true) {
    return ReadUntil([&](const Message& m) { return m.Get("Response") == response; }, timeout, marker);
  }

  // Reads and drops bytes until the peer ends the connection.
  ReadEnd ReadToEnd(Ms timeout) {
    const auto deadline = Clock::now() + timeout;
    std::vector<unsigned char> b;
    while (ReadExact(1 << 16, deadline, &b)) {
    }
    return end_;
  }

  ReadEnd LastEnd() const { return end_; }
  bool BadMarker() const { return bad_marker_; }
  int Fd() const { return fd_; }

 private:
  static std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
  }

  static void ParseHeaders(Message* m) {
    std::size_t pos = 0;
    const std::string& t = m->header_text;
    while (true) {
      const std::size_t eol = t.find("\r\n", pos);
      if (eol == std::string::npos || eol == pos) break;
      const std::string line = t.substr(pos, eol - pos);
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos) {
        m->headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
      }
      pos = eol + 2;
    }
  }

  int fd_ = -1;
  ReadEnd end_ = ReadEnd::kNone;
  bool bad_marker_ = false;
};

}  // namespace test
}  // namespace sim
}  // namespace strevon
