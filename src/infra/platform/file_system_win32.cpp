#include "infra/platform/file_system.h"

#include <windows.h>

namespace quorvel {
namespace platform {

namespace {

// Every handle is shared for reading, writing and deleting, so that another
// process appending to or rotating the log is never locked out by a probe.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : m_handle(handle) {}
  ~ScopedHandle() {
    if (IsValid()) CloseHandle(m_handle);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool IsValid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
  HANDLE Get() const { return m_handle; }
  bool Close() {
    const HANDLE handle = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE m_handle;
};

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

FileProbe ProbeFile(const std::string& path) {
  ScopedHandle file(OpenForReading(path));
  if (file.IsValid()) return FileProbe::kExists;
  return IsMissing(GetLastError()) ? FileProbe::kMissing : FileProbe::kError;
}

std::int64_t GetFileLength(const std::string& path) {
  ScopedHandle file(OpenForReading(path));
  if (!file.IsValid()) return IsMissing(GetLastError()) ? 0 : -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) return -1;
  return static_cast<std::int64_t>(size.QuadPart);
}

bool AppendToFile(const std::string& path, const std::string& bytes) {
  // FILE_APPEND_DATA alone makes every write land at the current end, also
  // when another process appended in between.
  ScopedHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file.Get(), data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return FlushFileBuffers(file.Get()) != 0 && file.Close();
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when to exists.
  return MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
}

}  // namespace platform
}  // namespace quorvel
