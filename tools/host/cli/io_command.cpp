#include "io_command.h"

#include <cstdio>
#include <map>

#include "driver_session.h"
#include "interrupt_watcher.h"
#include "io_callback.h"
#include "live_view.h"

namespace strevon {
namespace hosttool {

namespace {

const char* StateText(std::uint32_t state) {
  switch (state) {
    case 2: return "on";
    case 1: return "off";
    default: return "unknown";
  }
}

// The pid of the input or output parameter whose id is id ("id;pid").
std::string PidById(const DeviceDescription& device, const std::string& prefix, std::uint32_t id) {
  for (const host::CapabilityParameter& p : device.parameters) {
    if (p.name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::size_t semi = p.value.find(';');
    if (semi == std::string::npos) continue;
    if (std::strtoul(p.value.substr(0, semi).c_str(), nullptr, 10) == id) return p.value.substr(semi + 1);
  }
  return "?";
}

}  // namespace

IoCommand::IoCommand(CLI::App& app, const CommonOptions& common) : m_common(common) {
  m_command = app.add_subcommand("io", "Watch digital inputs live and toggle outputs");
  AddDeviceOptions(m_command, &m_device, false);
  m_command->add_option("--watch", m_watchSeconds, "seconds to watch the inputs")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 86400.0));
  m_command->add_option("--toggle", m_toggle, "toggle this output (index from 0; repeatable)");
  m_command->add_option("--state", m_state, "state handed to SetOutput with --toggle")->capture_default_str();
  m_command->add_option("--min-changes", m_minChanges,
                        "fail unless at least this many input changes were seen")
      ->capture_default_str();
  m_command->add_option("--view-channel", m_viewChannel,
                        "video channel whose first frame shows the driver is logged on")
      ->capture_default_str();
  m_command->add_option("--connect-timeout", m_connectTimeout, "seconds to wait for the Gateway")
      ->capture_default_str()
      ->check(CLI::Range(1.0, 600.0));
}

int IoCommand::Run() {
  std::string error;
  host::DriverLibrary library;
  std::vector<DeviceDescription> devices;
  if (!LoadDriverAndDevices(m_common.libraryPath, m_device, &library, &devices, &error)) {
    return Fail(error);
  }
  const DeviceDescription& device = devices.front();
  for (std::uint32_t output : m_toggle) {
    if (output >= device.OutputCount()) {
      return Fail("output " + std::to_string(output) + " is out of range: the Gateway at " +
                      device.endpoint.ToString() + " has " + std::to_string(device.OutputCount()) +
                      " output(s)",
                  2);
    }
  }

  InterruptWatcher interrupt;
  host::IOCallback callback;
  DriverSession session(library, device);
  if (m_common.verbose) session.Sink().SetEcho(stderr);
  if (!session.Open(&error)) return Fail(error);
  quorvel::ICaptureIOApi* io = session.Io(&error);
  if (io == nullptr) return Fail(error);
  io->SetIOCallback(&callback);
  if (!io->StartIO()) return Fail("the driver could not start its I/O (StartIO returned false)");

  LiveView view(session, static_cast<std::uint32_t>(m_viewChannel < 0 ? 0 : m_viewChannel));
  if (m_viewChannel >= 0 &&
      !view.StartAndWait(std::chrono::milliseconds(static_cast<int>(m_connectTimeout * 1000)), &error)) {
    io->StopIO();
    return Fail(error);
  }
  std::printf("Gateway %s: %u input(s), %u output(s)\n", device.endpoint.ToString().c_str(),
              io->GetInputCount(), io->GetOutputCount());
  for (std::uint32_t output : m_toggle) {
    io->SetOutput(output, m_state);
    std::printf("  output %u (%s): toggle sent\n", output, device.OutputPid(output).c_str());
  }
  std::fflush(stdout);

  // What arrived while the driver was logging on has no useful timing:
  // only the latest state of each input is shown as the starting point.
  std::map<std::uint32_t, std::uint32_t> states;
  const std::vector<host::InputReport> early = callback.Reports().Snapshot();
  std::size_t seen = early.size();
  for (const host::InputReport& r : early) states[r.inputId] = r.state;
  for (const auto& s : states) {
    std::printf("  %6.1f s  input %u (%s)  %s  (state when watching began)\n", 0.0, s.first,
                PidById(device, "Input ", s.first).c_str(), StateText(s.second));
  }
  const auto begin = std::chrono::steady_clock::now();
  std::uint32_t changes = 0;
  for (;;) {
    const bool interrupted = interrupt.WaitFor(std::chrono::milliseconds(100));
    const std::vector<host::InputReport> reports = callback.Reports().Snapshot();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    for (; seen < reports.size(); ++seen) {
      const host::InputReport& r = reports[seen];
      const auto known = states.find(r.inputId);
      if (known != states.end() && known->second == r.state) continue;  // periodic report
      const bool change = known != states.end();
      if (change) ++changes;
      states[r.inputId] = r.state;
      std::printf("  %6.1f s  input %u (%s)  %s%s\n", elapsed, r.inputId,
                  PidById(device, "Input ", r.inputId).c_str(), StateText(r.state),
                  change ? "" : "  (first report)");
    }
    std::fflush(stdout);
    if (interrupted || elapsed >= m_watchSeconds) break;
  }
  const auto unsettled = std::chrono::duration_cast<std::chrono::milliseconds>(
      begin + kCommandSettle - std::chrono::steady_clock::now());
  if (!m_toggle.empty() && unsettled.count() > 0) interrupt.WaitFor(unsettled);
  io->StopIO();
  view.Stop();
  std::printf("%u input change(s) seen in %.0f s\n", changes, m_watchSeconds);
  if (changes < m_minChanges) {
    return Fail("expected at least " + std::to_string(m_minChanges) + " input change(s), saw " +
                std::to_string(changes));
  }
  return 0;
}

}  // namespace hosttool
}  // namespace strevon
