// A child process for tests: standard output and error read through one
// pipe, standard input writable, every wait bounded by a deadline. The
// child is killed when the object goes, so a hung program fails its test
// instead of hanging it. The waits are written once, over a small class
// per system that starts, reads and reaps the child.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace quorvel {
namespace test_support {

namespace detail {

using Deadline = std::chrono::steady_clock::time_point;

#if defined(_WIN32)
// The Windows end of a child: CreateProcess with inherited pipe ends; the
// program is found as the command line's first word (".exe" may be left
// out); it is terminated when the object goes.
class OsChild {
 public:
  OsChild(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&inRead, &inWrite, &inherit, 0)) {
      return;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine;
    for (const std::string& a : args) commandLine += (commandLine.empty() ? "\"" : " \"") + a + "\"";
    std::string block;  // the test's environment with env in front
    for (const std::string& e : env) block += e + '\0';
    if (char* strings = GetEnvironmentStringsA()) {
      for (const char* e = strings; *e != '\0'; e += std::string(e).size() + 1) block += std::string(e) + '\0';
      FreeEnvironmentStringsA(strings);
    }
    block += '\0';
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, &block[0], nullptr,
                       &startup, &info)) {
      CloseHandle(info.hThread);
      m_process = info.hProcess;
    }
    CloseHandle(outWrite);
    CloseHandle(inRead);
    m_out = outRead;
    m_in = inWrite;
  }
  ~OsChild() {
    if (Started() && !m_exited) {
      TerminateProcess(m_process, 1);
      WaitForSingleObject(m_process, 5000);
    }
    if (m_process != nullptr) CloseHandle(m_process);
    if (m_out != nullptr) CloseHandle(m_out);
    CloseInput();
  }
  OsChild(const OsChild&) = delete;
  OsChild& operator=(const OsChild&) = delete;

  bool Started() const { return m_process != nullptr; }
  bool Write(const std::string& text) {
    DWORD written = 0;
    return m_in != nullptr && WriteFile(m_in, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  }
  void CloseInput() {
    if (m_in != nullptr) CloseHandle(m_in);
    m_in = nullptr;
  }
  void Signal(int) {
    if (Started() && !m_exited) TerminateProcess(m_process, 1);
  }

 protected:
  // Appends what the child wrote to output; false at the end of the output
  // or at the deadline.
  bool ReadSome(Deadline deadline, std::string& output) {
    while (m_out != nullptr && std::chrono::steady_clock::now() < deadline) {
      DWORD available = 0;
      if (!PeekNamedPipe(m_out, nullptr, 0, nullptr, &available, nullptr)) break;  // writer gone
      if (available == 0) {
        Sleep(5);
        continue;
      }
      char buffer[4096];
      DWORD n = 0;
      if (!ReadFile(m_out, buffer, sizeof buffer, &n, nullptr) || n == 0) break;
      output.append(buffer, n);
      return true;
    }
    if (m_out != nullptr && std::chrono::steady_clock::now() < deadline) {
      CloseHandle(m_out);
      m_out = nullptr;
    }
    return false;
  }
  // The exit code of a started child, or -1 with timedOut set when it has
  // not exited by the deadline (it is killed then).
  int Reap(Deadline deadline, bool& timedOut) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    m_exited = true;
    if (WaitForSingleObject(m_process, left.count() > 0 ? static_cast<DWORD>(left.count()) : 0) !=
        WAIT_OBJECT_0) {
      timedOut = true;
      TerminateProcess(m_process, 1);
      WaitForSingleObject(m_process, 5000);
      return -1;
    }
    DWORD code = 0;
    return GetExitCodeProcess(m_process, &code) ? static_cast<int>(code) : -1;
  }

 private:
  HANDLE m_process = nullptr;
  HANDLE m_out = nullptr;
  HANDLE m_in = nullptr;
  bool m_exited = false;
};
#else

// The POSIX end of a child: posix_spawn, so that the test's threads stay
// out of the child; killed when the object goes.
class OsChild {
 public:
  OsChild(std::vector<std::string> args, const std::vector<std::string>& env) {
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
  ~OsChild() {
    if (Started() && !m_exited) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) ::close(m_out);
    CloseInput();
  }
  OsChild(const OsChild&) = delete;
  OsChild& operator=(const OsChild&) = delete;

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

 protected:
  // Appends what the child wrote to output; false at the end of the output
  // or at the deadline.
  bool ReadSome(Deadline deadline, std::string& output) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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
    output.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  // The exit code of a started child, or -1 when it did not exit normally;
  // -1 with timedOut set when it has not exited by the deadline (it is
  // killed then).
  int Reap(Deadline deadline, bool& timedOut) {
    m_exited = true;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) != m_pid) {
      if (std::chrono::steady_clock::now() >= deadline) {
        timedOut = true;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
        return -1;
      }
      ::poll(nullptr, 0, 5);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  int m_in = -1;
  bool m_exited = false;
};
#endif

}  // namespace detail

class ChildProcess : public detail::OsChild {
 public:
  // args[0] is the program's path; env entries ("NAME=value") are added to
  // the test's own environment.
  ChildProcess(std::vector<std::string> args, const std::vector<std::string>& env = {})
      : OsChild(std::move(args), env) {}

  // Everything the child wrote so far.
  const std::string& Output() const { return m_output; }

  // Reads until the output contains text; true when it does in time.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_output.find(text) == std::string::npos && ReadSome(deadline, m_output)) {
    }
    return m_output.find(text) != std::string::npos;
  }

  // Reads the output to its end and reaps the child: its exit code, or -1
  // when it did not exit normally or not in time (it is killed then).
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ReadSome(deadline, m_output)) {
    }
    if (!Started()) return -1;
    return Reap(deadline, m_timedOut);
  }
  bool TimedOut() const { return m_timedOut; }

 private:
  std::string m_output;
  bool m_timedOut = false;
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
