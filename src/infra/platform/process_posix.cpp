#include "infra/platform/process.h"

#include <unistd.h>

#include <cstdlib>

namespace quorvel {
namespace platform {

std::string ExecutableDirectory() {
  try {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return std::string();
    std::string path(buffer, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos) path.erase(slash + 1);
    return path;
  } catch (...) {
    return std::string();
  }
}

std::string HostCoreVersion() { return GetEnvironment(kHostVersionEnvironmentVariable); }

std::string GetEnvironment(const char* name) {
  if (name == nullptr) return std::string();
  const char* value = std::getenv(name);
  try {
    return value != nullptr ? std::string(value) : std::string();
  } catch (...) {
    return std::string();
  }
}

}  // namespace platform
}  // namespace quorvel
