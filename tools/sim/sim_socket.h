// Small RAII holders for the file descriptors of the simulator.
#pragma once

#include <cstdint>
#include <string>

namespace strevon {
namespace sim {

// Owns one descriptor; closes it on destruction or Reset.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// An eventfd used to wake a thread blocked in poll. Signal is safe from any
// thread; Drain belongs to the waiting thread.
class WakeFd {
 public:
  WakeFd();
  bool Valid() const { return fd_.Valid(); }
  int Get() const { return fd_.Get(); }
  void Signal();
  void Drain();

 private:
  UniqueFd fd_;
};

// Makes the next close of fd send a reset instead of an orderly FIN.
void ArmResetOnClose(int fd);

// Creates a listening TCP socket on 127.0.0.1:port (port 0 = any free port).
// Returns an invalid fd and fills *error on failure; *bound_port gets the port.
UniqueFd ListenLoopback(std::uint16_t port, std::uint16_t* bound_port, std::string* error);

}  // namespace sim
}  // namespace strevon
