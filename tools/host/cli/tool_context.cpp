#include "tool_context.h"

#include <unistd.h>

#include <cstdio>

#include "capability_query.h"

namespace strevon {
namespace hosttool {

bool LoadDriverLibrary(const std::string& path, host::DriverLibrary* library, std::string* error) {
  if (::access(path.c_str(), F_OK) != 0) {
    *error = "driver library not found: " + path +
             " (build the 'strevon' target, or name the library with --lib PATH)";
    return false;
  }
  if (!library->Load(path)) {
    *error = library->Error();
    return false;
  }
  return true;
}

int Fail(const std::string& message, int code) {
  std::fprintf(stderr, "strevon-host: error: %s\n", message.c_str());
  return code;
}

void AddDeviceOptions(CLI::App* cmd, DeviceOptions* options, bool many) {
  CLI::Option* device = cmd->add_option("--device", options->deviceFiles,
                                        "device file written by 'query --save'");
  if (!many) device->expected(1);
  CLI::Option* address =
      cmd->add_option("address", options->addresses,
                      "Gateway ADDRESS[:PORT] to query first (instead of --device)");
  if (!many) address->expected(1);
  cmd->add_option("--user,-u", options->userName, "Gateway user (replaces the stored one)");
  cmd->add_option("--password,-p", options->password, "Gateway password (replaces the stored one)");
  cmd->add_option("--port", options->port, "Gateway port when ADDRESS has none")
      ->capture_default_str();
  cmd->add_option("--frame-rate-flag", options->frameRateFlag,
                  "flag handed to the capability query (1: the device reports 30 fps, 0: 25 fps)")
      ->capture_default_str();
}

bool ResolveDevices(const host::DriverLibrary& library, const DeviceOptions& options,
                    std::vector<DeviceDescription>* devices, std::string* error) {
  if (options.deviceFiles.empty() && options.addresses.empty()) {
    *error = "name the device: --device FILE (from 'query --save') or a Gateway ADDRESS[:PORT]";
    return false;
  }
  for (const std::string& path : options.deviceFiles) {
    DeviceDescription device;
    if (!DeviceDescription::Load(path, &device, error)) return false;
    if (!options.userName.empty()) device.userName = options.userName;
    if (!options.password.empty()) device.password = options.password;
    devices->push_back(std::move(device));
  }
  for (const std::string& text : options.addresses) {
    QueryRequest request;
    if (!ParseEndpoint(text, options.port, &request.endpoint, error)) return false;
    if (options.userName.empty()) {
      *error = "querying " + request.endpoint.ToString() + " needs --user and --password";
      return false;
    }
    request.userName = options.userName;
    request.password = options.password;
    request.frameRateFlag = options.frameRateFlag;
    std::fprintf(stdout, "querying %s ...\n", request.endpoint.ToString().c_str());
    std::fflush(stdout);
    const QueryResult result = CapabilityQuery(library).Run(request);
    if (!result.ok) {
      *error = "capability query of " + request.endpoint.ToString() + " failed: " + result.message;
      std::string reason;
      if (!ProbeTcp(request.endpoint, 3000, &reason)) {
        *error += " (the Gateway is unreachable: " + reason + ")";
      }
      return false;
    }
    devices->push_back(result.device);
  }
  return true;
}

bool LoadDriverAndDevices(const std::string& libraryPath, const DeviceOptions& options,
                          host::DriverLibrary* library, std::vector<DeviceDescription>* devices,
                          std::string* error) {
  return LoadDriverLibrary(libraryPath, library, error) &&
         ResolveDevices(*library, options, devices, error);
}

}  // namespace hosttool
}  // namespace strevon
