#include "infra/platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "infra/platform/process.h"

namespace quorvel {
namespace platform {

namespace {

constexpr std::chrono::milliseconds kPollInterval(2);

std::string LockFilePath(const std::string& name) {
  if (name.empty()) return std::string();
  const std::string home = DriverHomeDirectory();
  if (home.empty()) return std::string();
  return home + name;
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name) : m_path(LockFilePath(name)) {}

NamedMutex::~NamedMutex() {
  const int fd = m_heldFd.exchange(-1);
  if (fd >= 0) close(fd);
}

bool NamedMutex::Lock(std::uint32_t timeoutMs) {
  if (!IsValid()) return false;
  int fd;
  do {
    fd = open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      m_heldFd.store(fd);
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  close(fd);
  return false;
}

void NamedMutex::Unlock() {
  const int fd = m_heldFd.exchange(-1);
  if (fd < 0) return;
  flock(fd, LOCK_UN);
  close(fd);
}

}  // namespace platform
}  // namespace quorvel
