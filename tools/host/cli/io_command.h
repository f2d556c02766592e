// `strevon-host io`: the digital inputs and outputs of a Gateway through
// the driver's I/O interface: watch the input states live (every change is
// printed as it arrives) and toggle outputs. Main thread; input reports
// arrive on the driver's threads and are read from the callback's log.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tool_context.h"

namespace strevon {
namespace hosttool {

class IoCommand {
 public:
  IoCommand(CLI::App& app, const CommonOptions& common);

  bool Selected() const { return m_command->parsed(); }
  int Run();

 private:
  const CommonOptions& m_common;
  CLI::App* m_command;
  DeviceOptions m_device;
  double m_watchSeconds = 10;
  std::vector<std::uint32_t> m_toggle;
  int m_state = 1;
  std::uint32_t m_minChanges = 0;
  int m_viewChannel = 0;
  double m_connectTimeout = 10;
};

}  // namespace hosttool
}  // namespace strevon
