#include "interrupt_watcher.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace strevon {
namespace hosttool {

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

InterruptWatcher::InterruptWatcher() {
  const sigset_t set = StopSignals();
  // Threads started later inherit the mask, so no driver thread is
  // interrupted by the signal.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m_fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

InterruptWatcher::~InterruptWatcher() {
  if (m_fd >= 0) ::close(m_fd);
}

bool InterruptWatcher::WaitFor(std::chrono::milliseconds timeout) {
  if (m_requested) return true;
  if (m_fd < 0) {
    // Without a signalfd the default signal action ends the process.
    ::poll(nullptr, 0, static_cast<int>(timeout.count()));
    return false;
  }
  pollfd pfd{m_fd, POLLIN, 0};
  if (::poll(&pfd, 1, static_cast<int>(timeout.count())) > 0) {
    signalfd_siginfo info{};
    if (::read(m_fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) m_requested = true;
  }
  return m_requested;
}

}  // namespace hosttool
}  // namespace strevon
