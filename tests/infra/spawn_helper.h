// Runs the log_writer_main helper program as a separate process and waits
// for it. posix_spawn keeps the test's threads out of the child.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quorvel {
namespace testing_support {

inline std::string HelperPath() { return std::string(STREVON_TEST_BINARY_DIR) + "/log_writer_main"; }

// The child's pid, or -1.
inline pid_t SpawnHelper(const std::vector<std::string>& args) {
  std::vector<std::string> all;
  all.push_back(HelperPath());
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// The child's exit code, or -1 when it did not exit normally or not within
// timeoutMs (it is killed then).
inline int WaitForHelper(pid_t pid, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace testing_support
}  // namespace quorvel
