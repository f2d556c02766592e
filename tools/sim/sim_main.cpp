// strevon-gateway-sim: the simulated Gateway as a process.
//
// The first line on stdout is "listening 127.0.0.1 PORT". Commands are read
// from stdin, one per line; each is answered with one line, "ok ..." or
// "error ...". SIGINT and SIGTERM stop the process; stdin EOF stops it only
// with --exit-on-eof.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "gateway_simulator.h"
#include "sim_commands.h"

int main(int argc, char** argv) {
  using strevon::sim::GatewaySimulator;
  using strevon::sim::Scenario;

  CLI::App app{"Simulated Gateway server on 127.0.0.1"};
  int port = 0;
  std::string scenario_file;
  std::string requests_log;
  bool level2 = false;
  bool exit_on_eof = false;
  int toggle_ms = -1;
  app.add_option("--port", port, "TCP port on 127.0.0.1 (0 = any free port)")->check(CLI::Range(0, 65535));
  app.add_option("--scenario", scenario_file, "JSON scenario file (keys left out keep the built-in values)");
  app.add_option("--requests-log", requests_log, "append every received request as one JSON line");
  app.add_flag("--level2", level2, "protocol level 2: no start marker, no version announcement");
  app.add_flag("--exit-on-eof", exit_on_eof, "stop when standard input ends");
  app.add_option("--toggle-ms", toggle_ms, "input toggle period in ms (0 = off; default 3000 unless the scenario sets it)");
  CLI11_PARSE(app, argc, argv);

  Scenario base = strevon::sim::DefaultScenario();
  base.input_toggle_ms = 3000;  // the stand-alone site is alive by default
  Scenario scenario = base;
  if (!scenario_file.empty()) {
    std::string error;
    if (!strevon::sim::LoadScenarioFile(scenario_file, base, &scenario, &error)) {
      std::cerr << "strevon-gateway-sim: " << error << std::endl;
      return 2;
    }
  }
  if (level2) scenario.level2 = true;
  if (toggle_ms >= 0) scenario.input_toggle_ms = toggle_ms;

  // Signals are taken through a signalfd so that no thread is interrupted.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const int sfd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (sfd < 0) {
    std::perror("signalfd");
    return 1;
  }

  GatewaySimulator sim(scenario);
  if (!requests_log.empty()) {
    std::string error;
    if (!sim.OpenRequestsLog(requests_log, &error)) {
      std::cerr << "strevon-gateway-sim: " << error << std::endl;
      return 2;
    }
  }
  std::string error;
  if (!sim.Start(static_cast<std::uint16_t>(port), &error)) {
    std::cerr << "strevon-gateway-sim: " << error << std::endl;
    return 1;
  }
  std::printf("listening 127.0.0.1 %u\n", static_cast<unsigned>(sim.Port()));
  std::fflush(stdout);

  bool stdin_open = true;
  std::string pending;
  bool quit = false;
  while (!quit) {
    pollfd fds[2] = {{sfd, POLLIN, 0}, {stdin_open ? 0 : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (::read(sfd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info)) &&
          info.ssi_signo != static_cast<unsigned>(SIGPIPE)) {
        break;
      }
    }
    if (stdin_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char buf[4096];
      const ssize_t n = ::read(0, buf, sizeof(buf));
      if (n <= 0) {
        stdin_open = false;
        if (exit_on_eof) break;
        continue;
      }
      pending.append(buf, static_cast<std::size_t>(n));
      std::size_t nl;
      while ((nl = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const strevon::sim::CommandResult result = strevon::sim::RunCommand(sim, line);
        if (!result.reply.empty()) {
          std::printf("%s\n", result.reply.c_str());
          std::fflush(stdout);
        }
        if (result.quit) quit = true;
      }
    }
  }
  sim.Stop();
  ::close(sfd);
  return 0;
}
