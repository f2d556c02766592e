// Small helpers shared by the infrastructure tests: a private home directory
// for the driver (settings, log and lock files) and deadline-bounded waits.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace quorvel {
namespace testing_support {

// Creates a fresh directory and points STREVON_HOME at it; restores the
// previous value and removes the directory on destruction. Construct it
// before any driver thread starts (the environment is not thread-safe).
class TempHome {
 public:
  TempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "strevon_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) m_path = pattern + "/";
    const char* previous = getenv("STREVON_HOME");
    m_hadPrevious = previous != nullptr;
    if (m_hadPrevious) m_previous = previous;
    setenv("STREVON_HOME", m_path.c_str(), 1);
  }
  ~TempHome() {
    if (m_hadPrevious) {
      setenv("STREVON_HOME", m_previous.c_str(), 1);
    } else {
      unsetenv("STREVON_HOME");
    }
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  // With a trailing "/"; empty when the directory could not be made.
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  std::string m_previous;
  bool m_hadPrevious = false;
};

// Polls condition until it holds or timeoutMs passed; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

inline long long ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

}  // namespace testing_support
}  // namespace quorvel
