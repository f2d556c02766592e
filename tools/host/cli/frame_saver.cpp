#include "frame_saver.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace strevon {
namespace hosttool {

FrameSaver::FrameSaver(std::string directory, std::size_t maxPending)
    : m_directory(std::move(directory)), m_maxPending(maxPending) {}

bool FrameSaver::Prepare(std::string* error) {
  if (m_directory.empty()) {
    *error = "no output directory";
    return false;
  }
  for (std::size_t pos = 1; pos <= m_directory.size(); ++pos) {
    if (pos != m_directory.size() && m_directory[pos] != '/') continue;
    const std::string part = m_directory.substr(0, pos);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = "cannot create " + part + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat info {};
  if (::stat(m_directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = m_directory + " is not a directory";
    return false;
  }
  return true;
}

std::string FrameSaver::NumberedName(const std::string& label, std::uint64_t number, bool jpeg) {
  char digits[32];
  std::snprintf(digits, sizeof(digits), "%06llu", static_cast<unsigned long long>(number));
  return label + "-" + digits + (jpeg ? ".jpg" : ".bin");
}

bool FrameSaver::Offer(const std::string& label, std::uint64_t number, const unsigned char* bytes,
                       std::size_t size, bool jpeg) {
  if (bytes == nullptr || size == 0) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pending.size() >= m_maxPending) {
    ++m_dropped;
    return false;
  }
  m_pending.push_back(Pending{NumberedName(label, number, jpeg), {bytes, bytes + size}});
  return true;
}

bool FrameSaver::Flush(std::string* error) {
  std::vector<Pending> batch;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    batch.swap(m_pending);
  }
  for (const Pending& p : batch) {
    if (!Write(p.fileName, p.bytes, error)) return false;
  }
  return true;
}

bool FrameSaver::Write(const std::string& fileName, const std::vector<unsigned char>& bytes,
                       std::string* error) {
  const std::string path = PathOf(fileName);
  const std::string tmp = path + ".part";
  {
    std::ofstream file(tmp, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush()) {
      *error = "cannot write " + path;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  ++m_written;
  return true;
}

}  // namespace hosttool
}  // namespace strevon
