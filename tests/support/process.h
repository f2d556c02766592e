// A child process for tests: started with posix_spawn (the test's threads
// stay out of the child), standard output and error read through one pipe,
// standard input writable, every wait bounded by a deadline. The child is
// killed when the object goes, so a hung program fails its test instead of
// hanging it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace quorvel {
namespace test_support {

class ChildProcess {
 public:
  // args[0] is the program's path; env entries ("NAME=value") are added to
  // the test's own environment.
  ChildProcess(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<std::string> allEnv(env);
    for (char** e = environ; *e != nullptr; ++e) allEnv.emplace_back(*e);
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : allEnv) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    m_out = out[0];
    m_in = in[1];
  }
  ~ChildProcess() {
    if (Started() && !m_exited) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) ::close(m_out);
    CloseInput();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  bool Write(const std::string& text) {
    return m_in >= 0 && ::write(m_in, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void CloseInput() {
    if (m_in >= 0) ::close(m_in);
    m_in = -1;
  }
  void Signal(int sig) {
    if (Started() && !m_exited) ::kill(m_pid, sig);
  }
  // Everything the child wrote so far.
  const std::string& Output() const { return m_output; }

  // Reads until the output contains text; true when it does in time.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_output.find(text) == std::string::npos && ReadSome(deadline)) {
    }
    return m_output.find(text) != std::string::npos;
  }

  // Reads the output to its end and reaps the child: its exit code, or -1
  // when it did not exit normally or not in time (it is killed then).
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ReadSome(deadline)) {
    }
    if (!Started()) return -1;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) != m_pid) {
      if (std::chrono::steady_clock::now() >= deadline) {
        m_timedOut = true;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
        m_exited = true;
        return -1;
      }
      ::poll(nullptr, 0, 5);
    }
    m_exited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool TimedOut() const { return m_timedOut; }

 private:
  // False at the end of the output or at the deadline.
  bool ReadSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{m_out, POLLIN, 0};
    if (m_out < 0 || left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t n = ::read(m_out, buffer, sizeof buffer);
    if (n <= 0) {
      ::close(m_out);
      m_out = -1;
      return false;
    }
    m_output.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t m_pid = -1;
  int m_out = -1;
  int m_in = -1;
  bool m_exited = false;
  bool m_timedOut = false;
  std::string m_output;
};

struct ProcessResult {
  int exitCode = -1;  // -1: killed at the deadline or did not start
  bool timedOut = false;
  std::string output;  // stdout and stderr, interleaved
};

// Runs a program to its end with a deadline.
inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                const std::vector<std::string>& env,
                                std::chrono::milliseconds timeout) {
  ChildProcess child(args, env);
  child.CloseInput();
  const int exitCode = child.Wait(timeout);
  return {exitCode, child.TimedOut(), child.Output()};
}

}  // namespace test_support
}  // namespace quorvel
