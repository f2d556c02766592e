// `strevon-host stream`: live video from one or more Gateways, as a
// recording server takes it. Opens a driver per device with the stored
// parameters (JPEG frames), starts the chosen channels, shows live
// progress, saves the latest frame of every channel (and every Nth with
// --every), a mosaic of all channels and a summary (table and
// summary.json). Ctrl-C or the time limit stops it cleanly. Main thread;
// frames arrive on the driver's threads (see ChannelMonitor).
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "channel_monitor.h"
#include "tool_context.h"

namespace strevon {
namespace hosttool {

// Parses "all" or "0,2,3" against a channel count. False with a message
// for a channel out of range or a malformed list.
bool ParseChannelList(const std::string& text, std::uint32_t channelCount,
                      std::vector<std::uint32_t>* channels, std::string* error);

class StreamCommand {
 public:
  StreamCommand(CLI::App& app, const CommonOptions& common);

  bool Selected() const { return m_command->parsed(); }
  int Run();

 private:
  const CommonOptions& m_common;
  CLI::App* m_command;
  DeviceOptions m_device;
  std::string m_channels = "all";
  double m_seconds = 15;
  std::string m_outDir = "strevon-out";
  std::uint32_t m_every = 0;
  double m_connectTimeout = 10;
  int m_mosaicWidth = 320;
  bool m_plain = false;
};

}  // namespace hosttool
}  // namespace strevon
