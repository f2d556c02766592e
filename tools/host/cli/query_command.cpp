#include "query_command.h"

#include <cstdio>

#include "capability_query.h"
#include "text_table.h"

namespace strevon {
namespace hosttool {

QueryCommand::QueryCommand(CLI::App& app, const CommonOptions& common) : m_common(common) {
  m_command = app.add_subcommand("query", "Run the driver's capability query against a Gateway");
  m_command->add_option("address", m_address, "Gateway ADDRESS[:PORT]")->required();
  m_command->add_option("--user,-u", m_userName, "Gateway user")->required();
  m_command->add_option("--password,-p", m_password, "Gateway password")->required();
  m_command->add_option("--port", m_port, "Gateway port when ADDRESS has none")->capture_default_str();
  m_command->add_option("--save", m_savePath, "write the result as a device file (JSON)");
  m_command->add_option("--frame-rate-flag", m_frameRateFlag,
                        "flag handed to the query (1: the device reports 30 fps, 0: 25 fps)")
      ->capture_default_str();
  m_command->add_flag("--module", m_freeModule,
                      "use CreateCapabilityQueryModule instead of the process-wide query");
  m_command->add_option("--timeout", m_timeoutSeconds, "seconds to wait for the answer")
      ->capture_default_str()
      ->check(CLI::Range(1, 600));
}

std::string QueryCommand::Describe(const DeviceDescription& device) {
  std::string out;
  out += "Device name  " + device.deviceName + "\n";
  out += "Channels     " + std::to_string(device.ChannelCount()) + "\n";
  out += "Inputs       " + std::to_string(device.InputCount()) + "\n";
  out += "Outputs      " + std::to_string(device.OutputCount()) + "\n";

  out += "\nCapabilities\n";
  TextTable caps({"id", "value", "meaning"}, {true, true, false});
  for (const auto& c : device.capabilities) {
    caps.AddRow({std::to_string(c.first), std::to_string(c.second), CapabilityName(c.first)});
  }
  out += caps.Render();

  out += "\nResolutions\n";
  TextTable resolutions({"resolution", "width", "height", "frame interval"}, {false, true, true, false});
  for (const host::CapabilityResolution& r : device.resolutions) {
    const std::string rate =
        r.intervalMs > 0 ? " (" + std::to_string((1000 + r.intervalMs / 2) / r.intervalMs) + " fps)" : "";
    resolutions.AddRow({r.text, std::to_string(r.width), std::to_string(r.height),
                        std::to_string(r.intervalMs) + " ms" + rate});
  }
  out += resolutions.RowCount() > 0 ? resolutions.Render() : "  (none)\n";

  out += "\nFrame intervals  ";
  for (std::size_t i = 0; i < device.frameIntervals.size(); ++i) {
    out += (i > 0 ? ", " : "") + std::to_string(device.frameIntervals[i]) + " ms";
  }
  if (device.frameIntervals.empty()) out += "(none)";
  out += "; default " + std::to_string(device.defaultFrameInterval) + " ms\n";

  out += "\nParameters (handed back to the driver at Open)\n";
  TextTable parameters({"#", "name", "per object", "value"}, {true, false, true, false});
  for (const host::CapabilityParameter& p : device.parameters) {
    parameters.AddRow({std::to_string(p.index), p.name, std::to_string(p.perObject), p.value});
  }
  out += parameters.Render();

  const std::vector<ChannelEntry> channels = device.Channels();
  if (!channels.empty()) {
    out += "\nChannels\n";
    TextTable table({"channel", "camera", "ptz", "ptz functions"}, {true, false, false, false});
    for (const ChannelEntry& c : channels) {
      table.AddRow({std::to_string(c.channel), c.pid, c.ptz ? "yes" : "no", c.ptz ? c.ptzCapabilities : "-"});
    }
    out += table.Render();
  }
  return out;
}

int QueryCommand::Run() {
  QueryRequest request;
  std::string error;
  if (!ParseEndpoint(m_address, m_port, &request.endpoint, &error)) return Fail(error, 2);
  host::DriverLibrary library;
  if (!LoadDriverLibrary(m_common.libraryPath, &library, &error)) return Fail(error);
  request.userName = m_userName;
  request.password = m_password;
  request.frameRateFlag = m_frameRateFlag;
  request.freeModule = m_freeModule;
  request.timeout = std::chrono::seconds(m_timeoutSeconds);

  std::printf("Querying the Gateway at %s as '%s' ...\n", request.endpoint.ToString().c_str(),
              request.userName.c_str());
  std::fflush(stdout);
  const QueryResult result = CapabilityQuery(library).Run(request);
  if (!result.ok) {
    std::string message = "query failed";
    if (result.status >= 0) message += " (status " + std::to_string(result.status) + ")";
    message += ": " + result.message;
    std::string reason;
    if (!ProbeTcp(request.endpoint, 3000, &reason)) {
      message += "\n  the Gateway at " + request.endpoint.ToString() + " is unreachable: " + reason;
    }
    return Fail(message);
  }
  std::fputs(Describe(result.device).c_str(), stdout);
  if (!m_savePath.empty()) {
    if (!result.device.Save(m_savePath, &error)) return Fail(error);
    std::printf("\nSaved to %s\n", m_savePath.c_str());
  }
  return 0;
}

}  // namespace hosttool
}  // namespace strevon
