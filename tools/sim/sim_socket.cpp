#include "sim_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace strevon {
namespace sim {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

WakeFd::WakeFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeFd::Signal() {
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong here.
  ssize_t ignored = ::write(fd_.Get(), &one, sizeof(one));
  (void)ignored;
}

void WakeFd::Drain() {
  std::uint64_t value = 0;
  ssize_t ignored = ::read(fd_.Get(), &value, sizeof(value));
  (void)ignored;
}

void ArmResetOnClose(int fd) {
  linger lg{};
  lg.l_onoff = 1;
  lg.l_linger = 0;
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
}

UniqueFd ListenLoopback(std::uint16_t port, std::uint16_t* bound_port, std::string* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    if (error != nullptr) *error = std::string("socket: ") + std::strerror(errno);
    return UniqueFd();
  }
  const int one = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    if (error != nullptr) *error = std::string("bind: ") + std::strerror(errno);
    return UniqueFd();
  }
  if (::listen(fd.Get(), 64) != 0) {
    if (error != nullptr) *error = std::string("listen: ") + std::strerror(errno);
    return UniqueFd();
  }
  socklen_t len = sizeof(addr);
  if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (error != nullptr) *error = std::string("getsockname: ") + std::strerror(errno);
    return UniqueFd();
  }
  if (bound_port != nullptr) *bound_port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace sim
}  // namespace strevon
