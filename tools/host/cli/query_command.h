// `strevon-host query ADDRESS[:PORT]`: the host's automatic search for one
// Gateway. Runs the driver's capability query, prints what it reports
// (device name, capabilities, resolutions, frame intervals, parameters) and
// can save it as a device file for the other commands. Main thread.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "device_description.h"
#include "tool_context.h"

namespace strevon {
namespace hosttool {

class QueryCommand {
 public:
  QueryCommand(CLI::App& app, const CommonOptions& common);

  bool Selected() const { return m_command->parsed(); }
  int Run();

  // The report printed for a successful query.
  static std::string Describe(const DeviceDescription& device);

 private:
  const CommonOptions& m_common;
  CLI::App* m_command;
  std::string m_address;
  std::string m_userName;
  std::string m_password;
  std::uint16_t m_port = kDefaultGatewayPort;
  std::uint32_t m_frameRateFlag = 0;
  std::string m_savePath;
  bool m_freeModule = false;
  int m_timeoutSeconds = 30;
};

}  // namespace hosttool
}  // namespace strevon
