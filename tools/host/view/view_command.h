// `strevon-host view`: the driver's live picture in a browser. Opens the
// devices as `stream` does (same loading through the exports, same host
// objects), starts the chosen channels and the digital I/O, and serves a
// page on loopback (127.0.0.1:8090 unless --listen says otherwise) with
// every channel live, its numbers, PTZ, inputs and outputs, the driver's
// log and the Gateway connection's state. Runs until Ctrl-C (or
// --seconds). Main thread; see ViewModel and ViewServer for the others.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "tool_context.h"

namespace strevon {
namespace hosttool {

class ViewCommand {
 public:
  ViewCommand(CLI::App& app, const CommonOptions& common);

  bool Selected() const { return m_command->parsed(); }
  int Run();

 private:
  const CommonOptions& m_common;
  CLI::App* m_command;
  CLI::Option* m_listenOption = nullptr;
  DeviceOptions m_device;
  std::string m_channels = "all";
  std::string m_listen = "127.0.0.1:8090";
  double m_seconds = 0;
  double m_connectTimeout = 10;
};

}  // namespace hosttool
}  // namespace strevon
