#include "infra/platform/process.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace quorvel {
namespace platform {

namespace {

// The host's core module, whose product version tells which log levels its
// debug sink knows. The bare name lets the system's search find it.
constexpr const char* kHostCoreModule = "ostrane.dll";

std::string ModuleVersion(const char* module) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(module, &ignored);
  if (size == 0) return std::string();
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoA(module, 0, size, data.data())) return std::string();
  void* value = nullptr;
  UINT length = 0;
  char root[] = "\\";
  if (!VerQueryValueA(data.data(), root, &value, &length) || value == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return std::string();
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  char text[48];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u",
                static_cast<unsigned>(HIWORD(info->dwProductVersionMS)),
                static_cast<unsigned>(LOWORD(info->dwProductVersionMS)),
                static_cast<unsigned>(HIWORD(info->dwProductVersionLS)),
                static_cast<unsigned>(LOWORD(info->dwProductVersionLS)));
  return text;
}

}  // namespace

std::string ExecutableDirectory() {
  try {
    // A path longer than the buffer is cut short by the call; what is left
    // still names a directory or is rejected below.
    char buffer[500];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, 499);
    if (length == 0 || length >= 499) return std::string();
    std::string path(buffer, length);
    const std::size_t separator = path.find_last_of("\\/");
    if (separator != std::string::npos) path.erase(separator + 1);
    return path;
  } catch (...) {
    return std::string();
  }
}

std::string HostCoreVersion() {
  try {
    const std::string version = ModuleVersion(kHostCoreModule);
    return version.empty() ? GetEnvironment(kHostVersionEnvironmentVariable) : version;
  } catch (...) {
    return std::string();
  }
}

std::string GetEnvironment(const char* name) {
  if (name == nullptr) return std::string();
  try {
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) return std::string();
    std::string value(needed, '\0');
    const DWORD length = GetEnvironmentVariableA(name, &value[0], needed);
    if (length == 0 || length >= needed) return std::string();
    value.resize(length);
    return value;
  } catch (...) {
    return std::string();
  }
}

}  // namespace platform
}  // namespace quorvel
