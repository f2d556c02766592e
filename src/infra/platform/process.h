// Process facts the driver needs from the operating system.
#pragma once

#include <string>

namespace quorvel {
namespace platform {

// Name of the environment variable that points the driver at another home
// directory (settings file and log file) than the host executable's.
constexpr const char* kHomeEnvironmentVariable = "STREVON_HOME";

// Directory of the host process's executable, with a trailing separator;
// "" when it cannot be read.
std::string ExecutableDirectory();

// The directory that holds "Strevon.xml" and "Strevon.log", with a trailing
// separator: STREVON_HOME when set and not empty, else ExecutableDirectory().
std::string DriverHomeDirectory();

// Where the host's version comes from when the host core module
// ("ostrane.dll") carries no version resource (always, outside Windows):
// "major.minor.build.revision" in this environment variable.
constexpr const char* kHostVersionEnvironmentVariable = "STREVON_HOST_VERSION";

// The product version of the host core module as "major.minor.build.revision";
// on Windows from its version resource, else (or when that cannot be read)
// from kHostVersionEnvironmentVariable; "" when neither says.
std::string HostCoreVersion();

// Value of an environment variable, "" when unset. Read only; the driver
// never changes its environment.
std::string GetEnvironment(const char* name);

}  // namespace platform
}  // namespace quorvel
