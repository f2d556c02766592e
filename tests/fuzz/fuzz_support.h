// Shared pieces of the fuzz harnesses: a broken-invariant check that aborts
// (so libFuzzer and the replay runner both report it with the input), a
// private driver home directory, and a small reader that takes an input
// apart into a few fields.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace quorvel {
namespace fuzzing {

// A fresh directory for Strevon.xml and Strevon.log, set as STREVON_HOME the
// first time it is asked for (before any driver thread exists) and removed
// with its settings file at exit. Returns the directory with a trailing "/".
inline const std::string& DriverHome() {
  static const std::string home = [] {
    char pattern[] = "/tmp/strevon-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    setenv("STREVON_HOME", pattern, 1);
    std::atexit([] {
      const std::string dir = getenv("STREVON_HOME") ? getenv("STREVON_HOME") : "";
      if (dir.empty()) return;
      unlink((dir + "/Strevon.xml").c_str());
      unlink((dir + "/Strevon.log").c_str());
      rmdir(dir.c_str());
    });
    return std::string(pattern) + "/";
  }();
  return home;
}

// Takes an input apart front to back; every read past the end gives zeros
// or empty text, so any input is a valid sequence of fields.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size)
      : m_data(reinterpret_cast<const char*>(data)), m_size(data == nullptr ? 0 : size) {}

  std::uint8_t Byte() { return m_pos < m_size ? static_cast<std::uint8_t>(m_data[m_pos++]) : 0; }

  // Bytes up to the next NUL (which is consumed) or the end.
  std::string Field() {
    std::string field;
    while (m_pos < m_size && m_data[m_pos] != '\0') field.push_back(m_data[m_pos++]);
    if (m_pos < m_size) ++m_pos;
    return field;
  }

  std::string Rest() {
    if (m_pos >= m_size) return std::string();
    std::string rest(m_data + m_pos, m_size - m_pos);
    m_pos = m_size;
    return rest;
  }

  bool AtEnd() const { return m_pos >= m_size; }

 private:
  const char* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

inline std::vector<char> Bytes(const std::string& text) {
  return std::vector<char>(text.begin(), text.end());
}

}  // namespace fuzzing
}  // namespace quorvel
