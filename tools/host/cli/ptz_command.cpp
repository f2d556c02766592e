#include "ptz_command.h"

#include <cstdio>
#include <functional>

#include "driver_session.h"
#include "interrupt_watcher.h"
#include "live_view.h"
#include "text_table.h"

namespace strevon {
namespace hosttool {

namespace {

const char* const kDirections[] = {"left",     "right",    "up",        "down",   "upleft",
                                   "upright",  "downleft", "downright", "zoomin", "zoomout"};

std::string Yes(std::uint32_t flag) { return flag ? "yes" : "no"; }

}  // namespace

std::string PtzResultText(int code) {
  switch (code) {
    case quorvel::kPtzOk: return "done";
    case quorvel::kPtzInvalidArgument: return "invalid argument";
    case quorvel::kPtzNotPossible: return "not possible now";
    case quorvel::kPtzNotSupported: return "not supported by this camera";
    case quorvel::kPtzNoSuchPreset: return "no such preset";
    case quorvel::kPtzPresetListFull: return "preset list full";
    default: return "result " + std::to_string(code);
  }
}

int PtzDirection(const std::string& name) {
  for (int i = 0; i < 10; ++i) {
    if (name == kDirections[i]) return i;
  }
  return -1;
}

PtzCommand::PtzCommand(CLI::App& app, const CommonOptions& common) : m_common(common) {
  m_command = app.add_subcommand(
      "ptz", "List a PTZ channel's functions and presets, move, zoom, focus, iris, recall a preset");
  AddDeviceOptions(m_command, &m_device, false);
  m_command->add_option("--channel,-c", m_channel, "PTZ channel (default: the first PTZ channel)");
  m_command->add_option("--move", m_move,
                        "move: left, right, up, down, upleft, upright, downleft, downright");
  m_command->add_option("--zoom", m_zoom, "zoom: in or out")->check(CLI::IsMember({"in", "out"}));
  m_command->add_option("--focus", m_focus, "focus: near or far")->check(CLI::IsMember({"near", "far"}));
  m_command->add_option("--iris", m_iris, "iris: open or close")->check(CLI::IsMember({"open", "close"}));
  m_command->add_option("--for", m_forMs, "milliseconds each motion runs before the stop")
      ->capture_default_str()
      ->check(CLI::Range(0, 600000));
  m_command->add_option("--speed", m_speed, "speed of motions and preset recalls (1 to 16)")
      ->capture_default_str()
      ->check(CLI::Range(0, 255));
  m_command->add_option("--preset", m_preset, "go to the preset with this name");
  m_command->add_option("--connect-timeout", m_connectTimeout, "seconds to wait for the Gateway")
      ->capture_default_str()
      ->check(CLI::Range(1.0, 600.0));
}

int PtzCommand::Run() {
  if (!m_move.empty() && (PtzDirection(m_move) < 0 || PtzDirection(m_move) > 7)) {
    return Fail("unknown direction '" + m_move + "' (left, right, up, down, upleft, upright, "
                "downleft, downright)", 2);
  }
  std::string error;
  host::DriverLibrary library;
  std::vector<DeviceDescription> devices;
  if (!LoadDriverAndDevices(m_common.libraryPath, m_device, &library, &devices, &error)) {
    return Fail(error);
  }
  const DeviceDescription& device = devices.front();

  // The channel: given, or the first PTZ channel of the device.
  const std::vector<ChannelEntry> entries = device.Channels();
  std::string ptzChannels;
  for (const ChannelEntry& e : entries) {
    if (e.ptz) ptzChannels += (ptzChannels.empty() ? "" : ", ") + std::to_string(e.channel);
  }
  if (m_channel < 0) {
    for (const ChannelEntry& e : entries) {
      if (e.ptz) {
        m_channel = static_cast<int>(e.channel);
        break;
      }
    }
    if (m_channel < 0) return Fail("the Gateway at " + device.endpoint.ToString() + " has no PTZ camera");
  }
  const std::uint32_t channel = static_cast<std::uint32_t>(m_channel);
  InterruptWatcher interrupt;
  DriverSession session(library, device);
  if (m_common.verbose) session.Sink().SetEcho(stderr);
  if (!session.CheckChannel(channel, &error)) return Fail(error, 2);
  if (channel < entries.size() && !entries[channel].ptz) {
    return Fail("no PTZ on channel " + std::to_string(channel) + " (camera " + entries[channel].pid +
                " is fixed; PTZ channels: " + (ptzChannels.empty() ? "none" : ptzChannels) + ")");
  }
  if (!session.Open(&error)) return Fail(error);
  LiveView view(session, channel);
  if (!view.StartAndWait(std::chrono::milliseconds(static_cast<int>(m_connectTimeout * 1000)), &error)) {
    return Fail(error);
  }
  quorvel::IIPPTZDriverEx* driver = session.Ptz(&error);
  if (driver == nullptr) return Fail(error);
  quorvel::IIPPTZApiEx* api = driver->GetPTZApiEx(channel);
  if (api == nullptr) return Fail("the driver gives no PTZ control for channel " + std::to_string(channel));
  const int init = api->Initialize();
  if (init != quorvel::kPtzOk) {
    return Fail("no PTZ on channel " + std::to_string(channel) + " (Initialize: " + PtzResultText(init) +
                ")");
  }

  quorvel::PtzCapabilityRecord caps{};
  const int capsResult = api->GetCapabilities(&caps);
  // The preset names come with the Gateway's answer to the takeover that
  // the refresh sends; give it a moment.
  int presetCount = api->RefreshPresets();
  for (int i = 0; i < 30 && presetCount <= 0 && !interrupt.Requested(); ++i) {
    interrupt.WaitFor(std::chrono::milliseconds(100));
    presetCount = api->RefreshPresets();
  }
  std::printf("PTZ channel %u (camera %s) on %s\n", channel,
              channel < entries.size() ? entries[channel].pid.c_str() : "?",
              device.endpoint.ToString().c_str());
  if (capsResult == quorvel::kPtzOk) {
    TextTable table({"pan", "tilt", "zoom", "focus", "iris", "area zoom", "center", "unzoom", "presets"});
    table.AddRow({Yes(caps.pan), Yes(caps.tilt), Yes(caps.zoom), Yes(caps.focus), Yes(caps.iris),
                  Yes(caps.areaZoom), Yes(caps.center), Yes(caps.unzoom),
                  std::to_string(presetCount > 0 ? presetCount : 0)});
    std::fputs(table.Render().c_str(), stdout);
  } else {
    std::printf("  capabilities: %s\n", PtzResultText(capsResult).c_str());
  }
  std::vector<std::string> presetNames;
  for (int i = 0; i < presetCount; ++i) {
    char name[256] = {0};
    if (api->GetPresetName(static_cast<std::uint32_t>(i), name, sizeof(name)) == quorvel::kPtzOk) {
      presetNames.push_back(name);
    }
  }
  std::printf("Presets: ");
  for (std::size_t i = 0; i < presetNames.size(); ++i) {
    std::printf("%s%zu %s", i > 0 ? ", " : "", i, presetNames[i].c_str());
  }
  std::printf("%s\n", presetNames.empty() ? "(none)" : "");

  bool failed = false;
  bool commanded = false;
  auto report = [&](const std::string& what, int code) {
    commanded = true;
    std::printf("  %-24s %s\n", what.c_str(), PtzResultText(code).c_str());
    std::fflush(stdout);
    if (code != quorvel::kPtzOk) failed = true;
    return code == quorvel::kPtzOk;
  };
  auto motion = [&](const std::string& what, const std::function<int()>& start) {
    if (!report(what, start())) return;
    interrupt.WaitFor(std::chrono::milliseconds(m_forMs));
    report("stop", api->StopMotion());
  };
  if (!m_move.empty()) {
    motion("move " + m_move, [&] { return api->Move(static_cast<std::uint32_t>(PtzDirection(m_move)), m_speed); });
  }
  if (!m_zoom.empty()) {
    motion("zoom " + m_zoom, [&] { return m_zoom == "in" ? api->ZoomIn(m_speed) : api->ZoomOut(m_speed); });
  }
  if (!m_focus.empty()) {
    motion("focus " + m_focus,
           [&] { return m_focus == "near" ? api->FocusNear(m_speed) : api->FocusFar(m_speed); });
  }
  if (!m_iris.empty()) {
    motion("iris " + m_iris, [&] { return m_iris == "open" ? api->IrisOpen(m_speed) : api->IrisClose(m_speed); });
  }
  if (!m_preset.empty()) {
    const int code = api->GoToPreset(m_speed, m_preset.c_str());
    if (code == quorvel::kPtzNoSuchPreset) {
      std::string names;
      for (const std::string& n : presetNames) names += (names.empty() ? "" : ", ") + n;
      std::printf("  %-24s no preset named '%s' (presets: %s)\n", ("preset " + m_preset).c_str(),
                  m_preset.c_str(), names.empty() ? "none" : names.c_str());
      failed = true;
    } else if (report("preset " + m_preset, code)) {
      char current[256] = {0};
      if (api->GetCurrentPresetName(current, sizeof(current)) == quorvel::kPtzOk) {
        std::printf("  current preset           %s\n", current);
      }
    }
  }
  if (commanded) interrupt.WaitFor(kCommandSettle);
  view.Stop();
  return failed ? 1 : 0;
}

}  // namespace hosttool
}  // namespace strevon
