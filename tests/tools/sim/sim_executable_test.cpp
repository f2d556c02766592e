// Tests of the strevon-gateway-sim process: its first stdout line, stdin
// commands, the scenario option and how it stops.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "raw_client.h"

extern char** environ;

namespace strevon {
namespace sim {
namespace {

using test::Clock;
using test::Ms;

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int in_pipe[2];
    int out_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    args.insert(args.begin(), STREVON_SIM_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, STREVON_SIM_EXE, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    stdin_ = in_pipe[1];
    stdout_ = out_pipe[0];
  }

  ~SimProcess() {
    CloseStdin();
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }

  bool Started() const { return pid_ > 0; }

  bool WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    return ::write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  void CloseStdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

  // One line of stdout, or "" at the deadline or EOF.
  std::string ReadLine(Ms timeout = Ms(5000)) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
      const std::size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
      if (left <= 0) return std::string();
      pollfd p = {stdout_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[1024];
      const ssize_t n = ::read(stdout_, buf, sizeof(buf));
      if (n <= 0) return std::string();
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

  // Waits for the process to end; returns its exit code, or -1 at the deadline.
  int WaitExit(Ms timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      // Polling a child for its exit has no event to wait on without SIGCHLD plumbing.
      pollfd none = {-1, 0, 0};
      ::poll(&none, 1, 10);
    }
    return -1;
  }

  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  bool exited_ = false;
  std::string buffer_;
};

std::uint16_t PortFromLine(const std::string& line) {
  const std::string prefix = "listening 127.0.0.1 ";
  if (line.compare(0, prefix.size(), prefix) != 0) return 0;
  return static_cast<std::uint16_t>(std::stoi(line.substr(prefix.size())));
}

TEST(SimExecutable, AnnouncesPortTakesCommandsAndStopsOnSigterm) {
  SimProcess p({"--port", "0", "--toggle-ms", "0"});
  ASSERT_TRUE(p.Started());
  const std::uint16_t port = PortFromLine(p.ReadLine());
  ASSERT_NE(0, port);

  test::RawClient c;
  ASSERT_EQ(0, c.Connect(port));
  ASSERT_TRUE(c.Send("user/authenticate?user-agent=x"));
  auto auth = c.ReadResponse("user/authenticate");
  ASSERT_TRUE(auth);
  EXPECT_NE(std::string::npos, auth->header_text.find("Kalmeno 3.0"));

  ASSERT_TRUE(p.WriteLine("ping"));
  EXPECT_EQ("ok delivered to 1", p.ReadLine());
  auto ping = c.Read();
  ASSERT_TRUE(ping);
  EXPECT_EQ("ping", ping->Get("Response"));

  ASSERT_TRUE(p.WriteLine("no-such-command"));
  EXPECT_EQ(0u, p.ReadLine().find("error"));
  ASSERT_TRUE(p.WriteLine("reset"));
  EXPECT_EQ("ok delivered to 1", p.ReadLine());
  EXPECT_EQ(test::ReadEnd::kReset, c.ReadToEnd(Ms(3000)));

  ASSERT_EQ(0, ::kill(p.Pid(), SIGTERM));
  EXPECT_EQ(0, p.WaitExit(Ms(5000)));
}

TEST(SimExecutable, IgnoresStdinEofUnlessAsked) {
  {
    SimProcess p({"--level2"});
    ASSERT_TRUE(p.Started());
    const std::uint16_t port = PortFromLine(p.ReadLine());
    ASSERT_NE(0, port);
    p.CloseStdin();
    // Still serving after EOF: a full exchange proves it.
    test::RawClient c;
    ASSERT_EQ(0, c.Connect(port));
    ASSERT_TRUE(c.Send("user/authenticate?user-agent=x"));
    auto auth = c.ReadResponse("user/authenticate", Ms(3000), false);
    ASSERT_TRUE(auth);
    EXPECT_EQ(std::string::npos, auth->header_text.find("Kalmeno"));
    ASSERT_EQ(0, ::kill(p.Pid(), SIGINT));
    EXPECT_EQ(0, p.WaitExit(Ms(5000)));
  }
  {
    SimProcess p({"--exit-on-eof"});
    ASSERT_TRUE(p.Started());
    ASSERT_NE(0, PortFromLine(p.ReadLine()));
    p.CloseStdin();
    EXPECT_EQ(0, p.WaitExit(Ms(5000)));
  }
}

TEST(SimExecutable, ScenarioFileAndRequestsLog) {
  const std::string dir = ::testing::TempDir();
  const std::string scenario = dir + "sim_exe_scenario.json";
  const std::string log = dir + "sim_exe_requests.jsonl";
  std::remove(log.c_str());
  {
    std::ofstream out(scenario);
    out << R"({"kalmeno_version": "4.0", "input_toggle_ms": 0})";
  }
  SimProcess p({"--scenario", scenario, "--requests-log", log});
  ASSERT_TRUE(p.Started());
  const std::uint16_t port = PortFromLine(p.ReadLine());
  ASSERT_NE(0, port);
  test::RawClient c;
  ASSERT_EQ(0, c.Connect(port));
  ASSERT_TRUE(c.Send("user/authenticate?user-agent=Gateway%20SDK"));
  auto auth = c.ReadResponse("user/authenticate");
  ASSERT_TRUE(auth);
  EXPECT_NE(std::string::npos, auth->header_text.find("Kalmeno 4.0"));
  ASSERT_TRUE(p.WriteLine("quit"));
  EXPECT_EQ("ok bye", p.ReadLine());
  EXPECT_EQ(0, p.WaitExit(Ms(5000)));
  std::ifstream in(log);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(std::string::npos, line.find("\"user-agent\":\"Gateway SDK\""));

  SimProcess bad({"--scenario", dir + "does-not-exist.json"});
  ASSERT_TRUE(bad.Started());
  EXPECT_EQ(2, bad.WaitExit(Ms(5000)));
}

}  // namespace
}  // namespace sim
}  // namespace strevon
