#include "infra/platform/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quorvel {
namespace platform {

namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : m_fd(fd) {}
  ~ScopedFd() {
    if (m_fd >= 0) close(m_fd);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int Get() const { return m_fd; }
  // close reports write-back errors too, so a successful append checks it.
  bool Close() {
    const int fd = m_fd;
    m_fd = -1;
    return close(fd) == 0;
  }

 private:
  int m_fd;
};

}  // namespace

FileProbe ProbeFile(const std::string& path) {
  ScopedFd fd(OpenRetrying(path.c_str(), O_RDONLY));
  if (fd.Get() >= 0) return FileProbe::kExists;
  return errno == ENOENT ? FileProbe::kMissing : FileProbe::kError;
}

std::int64_t GetFileLength(const std::string& path) {
  ScopedFd fd(OpenRetrying(path.c_str(), O_RDONLY));
  if (fd.Get() < 0) return errno == ENOENT ? 0 : -1;
  struct stat info {};
  if (fstat(fd.Get(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool AppendToFile(const std::string& path, const std::string& bytes) {
  ScopedFd fd(OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666));
  if (fd.Get() < 0) return false;
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = write(fd.Get(), data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return fd.Close();
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
#if defined(RENAME_NOREPLACE)
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  // EINVAL/ENOSYS: the file system or kernel lacks the flag; anything else
  // (the target exists, the source is gone) is a real failure.
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // link fails when the target exists, which gives the same guarantee.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  if (unlink(from.c_str()) != 0) {
    unlink(to.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
}  // namespace quorvel
