// A private home directory for the driver (settings, log and lock files):
// a fresh directory that STREVON_HOME points at for the object's life.
// Construct it before any driver thread starts: the environment is not
// thread-safe.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace quorvel {
namespace test_support {

inline void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnvironment(const char* name) {
#if defined(_WIN32)
  _putenv_s(name, "");  // an empty value removes the variable
#else
  unsetenv(name);
#endif
}

// A fresh directory under the system's temporary directory; "" on failure.
inline std::string MakeTempDirectory() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("strevon_test_" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) return path.string();
  }
  return std::string();
}

class TempHome {
 public:
  TempHome() {
    const std::string directory = MakeTempDirectory();
    if (!directory.empty()) m_path = directory + "/";
    const char* previous = getenv("STREVON_HOME");
    m_hadPrevious = previous != nullptr;
    if (m_hadPrevious) m_previous = previous;
    SetEnvironment("STREVON_HOME", m_path);
  }
  ~TempHome() {
    if (m_hadPrevious) {
      SetEnvironment("STREVON_HOME", m_previous);
    } else {
      UnsetEnvironment("STREVON_HOME");
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
