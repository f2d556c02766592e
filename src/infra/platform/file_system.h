// The few file operations the log needs. Every call opens and closes the
// file itself, so nothing stays open between log lines and several
// processes can share one file (callers serialise them with a NamedMutex).
// Safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {
namespace platform {

enum class FileProbe { kMissing, kExists, kError };

// Whether a file can be opened for reading: kMissing only when no such file
// exists; any other failure is kError.
FileProbe ProbeFile(const std::string& path);

// Length in bytes; 0 when the file does not exist, -1 on any other error.
std::int64_t GetFileLength(const std::string& path);

// Appends the bytes as they are (no line-end translation), creating the
// file when missing; opens, writes, flushes and closes. False on any failure.
bool AppendToFile(const std::string& path, const std::string& bytes);

// Renames from to to, never replacing an existing to. False when to exists
// or the rename fails.
bool RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace platform
}  // namespace quorvel
