// DriverHomeDirectory for every OS: only the path separators differ.
#include "infra/platform/process.h"

namespace quorvel {
namespace platform {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
bool EndsInSeparator(const std::string& path) { return path.back() == '\\' || path.back() == '/'; }
#else
constexpr char kSeparator = '/';
bool EndsInSeparator(const std::string& path) { return path.back() == '/'; }
#endif

}  // namespace

std::string DriverHomeDirectory() {
  try {
    std::string home = GetEnvironment(kHomeEnvironmentVariable);
    if (home.empty()) return ExecutableDirectory();
    if (!EndsInSeparator(home)) home += kSeparator;
    return home;
  } catch (...) {
    return std::string();
  }
}

}  // namespace platform
}  // namespace quorvel
