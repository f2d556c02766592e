// Shared pieces of the fuzz harnesses: a broken-invariant check that aborts
// (libFuzzer and the replay runner both report it with the input), a
// private driver home, and a reader that takes an input apart into fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_home.h"

#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace quorvel {
namespace fuzzing {

// A private driver home (STREVON_HOME) for the whole run, made the first
// time it is asked for, before any driver thread exists, and removed at exit.
inline const test_support::TempHome& DriverHome() {
  static const test_support::TempHome home;
  FUZZ_CHECK(!home.Path().empty());
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
    const std::size_t from = m_pos;
    m_pos = m_size;
    return from < m_size ? std::string(m_data + from, m_size - from) : std::string();
  }

 private:
  const char* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

inline std::vector<char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace fuzzing
}  // namespace quorvel
