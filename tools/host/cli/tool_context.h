// What every strevon-host command shares: the driver library path option
// and loading it, the device options (a saved device file, or a Gateway
// address queried on the spot), and how errors are printed. Main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "device_description.h"
#include "driver_library.h"

namespace strevon {
namespace hosttool {

struct CommonOptions {
  std::string libraryPath;
  bool verbose = false;  // echo the driver's log records to stderr
};

// Loads the driver library, with a hint when the file is missing.
bool LoadDriverLibrary(const std::string& path, host::DriverLibrary* library, std::string* error);

// Prints "strevon-host: error: <message>" to stderr and returns code.
int Fail(const std::string& message, int code = 1);

// Where the device of a command comes from.
struct DeviceOptions {
  std::vector<std::string> deviceFiles;
  std::vector<std::string> addresses;  // ADDRESS[:PORT], queried first
  std::string userName;
  std::string password;
  std::uint16_t port = kDefaultGatewayPort;
  std::uint32_t frameRateFlag = 0;
};

// Adds --device (repeatable when many), ADDRESS positionals, --user,
// --password, --port and --frame-rate to cmd.
void AddDeviceOptions(CLI::App* cmd, DeviceOptions* options, bool many);

// The device descriptions: device files loaded, addresses queried through
// the driver's capability query. --user/--password replace the stored ones.
bool ResolveDevices(const host::DriverLibrary& library, const DeviceOptions& options,
                    std::vector<DeviceDescription>* devices, std::string* error);

// The opening of every device command: the library loaded, then the devices.
bool LoadDriverAndDevices(const std::string& libraryPath, const DeviceOptions& options,
                          host::DriverLibrary* library, std::vector<DeviceDescription>* devices,
                          std::string* error);

}  // namespace hosttool
}  // namespace strevon
