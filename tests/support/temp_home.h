// A private home directory for the driver (settings, log and lock files):
// a fresh directory that STREVON_HOME points at for the object's life.
// Construct it before any driver thread starts: the environment is not
// thread-safe.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quorvel {
namespace test_support {

class TempHome {
 public:
  TempHome() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "strevon_test_XXXXXX").string();
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

  // Writes Strevon.xml (or another file of the home) with this text.
  void Write(const std::string& text, const std::string& name = "Strevon.xml") const {
    std::ofstream(m_path + name, std::ios::binary) << text;
  }
  // The whole file, empty when it does not exist.
  std::string Read(const std::string& name) const {
    std::ifstream in(m_path + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string m_path;
  std::string m_previous;
  bool m_hadPrevious = false;
};

}  // namespace test_support
}  // namespace quorvel
