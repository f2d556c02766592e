// `strevon-host ptz`: operate one PTZ channel through the driver's PTZ
// interfaces as a host's operator would: list its functions and presets,
// move in a direction (or zoom, focus, iris) for a while and stop, go to a
// preset by name. Main thread.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "tool_context.h"

namespace strevon {
namespace hosttool {

// The host's PTZ result codes as words ("done", "no such preset" ...).
std::string PtzResultText(int code);

// Move direction by name ("left" 0 ... "downright" 7, "zoomin" 8,
// "zoomout" 9); -1 when unknown.
int PtzDirection(const std::string& name);

class PtzCommand {
 public:
  PtzCommand(CLI::App& app, const CommonOptions& common);

  bool Selected() const { return m_command->parsed(); }
  int Run();

 private:
  const CommonOptions& m_common;
  CLI::App* m_command;
  DeviceOptions m_device;
  int m_channel = -1;
  std::string m_move;
  std::string m_zoom;
  std::string m_focus;
  std::string m_iris;
  std::string m_preset;
  std::uint32_t m_speed = 8;
  int m_forMs = 1000;
  double m_connectTimeout = 10;
};

}  // namespace hosttool
}  // namespace strevon
