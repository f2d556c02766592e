#include "view_command.h"

#include <cstdio>

#include "interrupt_watcher.h"
#include "stream_command.h"
#include "view_model.h"
#include "view_server.h"

namespace strevon {
namespace hosttool {

namespace {
constexpr auto kPollEvery = std::chrono::milliseconds(250);
}  // namespace

ViewCommand::ViewCommand(CLI::App& app, const CommonOptions& common) : m_common(common) {
  m_command = app.add_subcommand("view", "Show every channel live in a browser, with PTZ, I/O and the driver's log");
  AddDeviceOptions(m_command, &m_device, true);
  m_command->add_option("--channels", m_channels, "all, or a list like 0,2")->capture_default_str();
  m_listenOption =
      m_command->add_option("--listen", m_listen, "ADDRESS:PORT of the page (port 0: any free one)")
          ->capture_default_str();
  m_command->add_option("--seconds", m_seconds, "stop after this long (0: at Ctrl-C)")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 31536000.0));
  m_command->add_option("--connect-timeout", m_connectTimeout,
                        "seconds without video before the view asks the Gateway why")
      ->capture_default_str()
      ->check(CLI::Range(1.0, 600.0));
}

int ViewCommand::Run() {
  std::string error;
  std::string host;
  int port = 0;
  if (!ParseListenAddress(m_listen, &host, &port, &error)) return Fail(error, 2);
  host::DriverLibrary library;
  std::vector<DeviceDescription> devices;
  if (!LoadDriverAndDevices(m_common.libraryPath, m_device, &library, &devices, &error)) {
    return Fail(error);
  }
  std::vector<std::vector<std::uint32_t>> channels(devices.size());
  for (std::size_t d = 0; d < devices.size(); ++d) {
    if (!ParseChannelList(m_channels, devices[d].ChannelCount(), &channels[d], &error)) {
      return Fail(devices[d].endpoint.ToString() + ": " + error, 2);
    }
  }

  // Before any thread exists, so that none of them takes Ctrl-C.
  InterruptWatcher interrupt;
  ViewModel::Options options;
  options.connectTimeout = std::chrono::milliseconds(static_cast<int>(m_connectTimeout * 1000));
  ViewModel model(library, options);
  if (m_common.verbose) model.Log().SetEcho(stderr);
  ViewServer server(model);
  // Bound before any driver opens: a port in use ends the run at once.
  if (!server.Bind(host, port, &error)) return Fail(error);
  if (!IsLoopbackHost(host)) {
    std::fprintf(stderr,
                 "strevon-host: warning: the view listens on %s:%d, beyond this machine. The page has no "
                 "log-in: whoever reaches it can watch every channel, move the PTZ cameras and switch the "
                 "outputs. (The Gateway password is never shown on it.)\n",
                 host.c_str(), server.Port());
  }
  for (std::size_t d = 0; d < devices.size(); ++d) {
    if (!model.AddDevice(devices[d], channels[d], &error)) return Fail(error);
  }
  if (!server.Start(&error)) return Fail(error);
  std::size_t started = 0;
  for (const auto& list : channels) started += list.size();
  const std::string shown = host == "0.0.0.0" ? "THIS-MACHINE" : host;
  std::printf("Live view of %zu channel(s) from %zu Gateway(s): http://%s:%d/  (Ctrl-C stops)\n", started,
              devices.size(), shown.c_str(), server.Port());
  std::fflush(stdout);

  const auto begin = std::chrono::steady_clock::now();
  const auto limit = std::chrono::duration<double>(m_seconds);
  for (;;) {
    const bool interrupted = interrupt.WaitFor(kPollEvery);
    model.Poll();
    if (interrupted) break;
    if (m_seconds > 0 && std::chrono::steady_clock::now() - begin >= limit) break;
  }
  std::printf("Stopping the view.\n");
  std::fflush(stdout);
  server.Stop();
  model.Close();
  return 0;
}

}  // namespace hosttool
}  // namespace strevon
