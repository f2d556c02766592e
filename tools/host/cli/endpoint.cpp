#include "endpoint.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace strevon {
namespace hosttool {

bool ParseEndpoint(const std::string& text, std::uint16_t defaultPort, Endpoint* out,
                   std::string* error) {
  const std::size_t colon = text.find(':');
  if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
    *error = "'" + text + "' has more than one ':' (write ADDRESS or ADDRESS:PORT)";
    return false;
  }
  Endpoint result;
  result.address = text.substr(0, colon);
  result.port = defaultPort;
  if (result.address.empty()) {
    *error = "'" + text + "' has no address";
    return false;
  }
  if (colon != std::string::npos) {
    const std::string portText = text.substr(colon + 1);
    unsigned long port = 0;
    bool digits = !portText.empty() && portText.size() <= 5;
    for (char c : portText) digits = digits && c >= '0' && c <= '9';
    if (digits) port = std::stoul(portText);
    if (!digits || port == 0 || port > 65535) {
      *error = "'" + portText + "' is not a port number (1 to 65535)";
      return false;
    }
    result.port = static_cast<std::uint16_t>(port);
  }
  *out = result;
  return true;
}

namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

bool ProbeTcp(const Endpoint& endpoint, int timeoutMs, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  const std::string port = std::to_string(endpoint.port);
  const int rc = getaddrinfo(endpoint.address.c_str(), port.c_str(), &hints, &raw);
  if (rc != 0) {
    *error = std::string("cannot resolve '") + endpoint.address + "': " + gai_strerror(rc);
    return false;
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> info(raw);
  FdCloser sock{::socket(info->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
  if (sock.fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  if (::connect(sock.fd, info->ai_addr, info->ai_addrlen) == 0) return true;
  if (errno != EINPROGRESS) {
    *error = std::strerror(errno);
    return false;
  }
  pollfd pfd{sock.fd, POLLOUT, 0};
  const int ready = ::poll(&pfd, 1, timeoutMs);
  if (ready == 0) {
    *error = "no answer within " + std::to_string(timeoutMs) + " ms";
    return false;
  }
  int soError = 0;
  socklen_t len = sizeof(soError);
  if (ready < 0 || ::getsockopt(sock.fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  if (soError != 0) {
    *error = std::strerror(soError);
    return false;
  }
  return true;
}

}  // namespace hosttool
}  // namespace strevon
