// The settings file: the input, written as Strevon.xml into the driver's
// home (STREVON_HOME, set once), read back with ReadGatewaySettings and
// ReadStreamType for a device with its own Gateway section in the seeds
// and for one whose address cannot be put in an XPath literal.
//
// Invariants: resolutions have non-zero sides; a file that does not load
// gives exactly the defaults; the stream type is one of the two known
// values; two reads of the same file agree (nothing cached or changed).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "infra/device_info.h"
#include "infra/settings.h"
#include "infra/xml_parser.h"

namespace {

bool Same(const quorvel::GatewaySettings& a, const quorvel::GatewaySettings& b) {
  return a.profile == b.profile && a.resolutions == b.resolutions && a.logLevel == b.logLevel &&
         a.debugEnabled == b.debugEnabled;
}

void CheckDevice(const quorvel::DEVICE_INFO& device, bool loads) {
  const quorvel::GatewaySettings settings = quorvel::ReadGatewaySettings(device);
  for (const auto& resolution : settings.resolutions) {
    FUZZ_CHECK(resolution.first != 0 && resolution.second != 0);
  }
  if (!loads) FUZZ_CHECK(Same(settings, quorvel::GatewaySettings()));
  FUZZ_CHECK(Same(settings, quorvel::ReadGatewaySettings(device)));
  for (std::uint32_t channel = 0; channel < 3; ++channel) {
    const std::uint32_t type = quorvel::ReadStreamType(device, channel);
    FUZZ_CHECK(type == quorvel::kStreamTypeMotion || type == quorvel::kStreamTypeFullRate);
    if (!loads) FUZZ_CHECK(type == quorvel::kStreamTypeFullRate);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::fuzzing::DriverHome().Write(
      size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), size));
  quorvel::CXMLParser probe;
  const bool loads = probe.LoadFile();
  probe.Close();

  quorvel::DEVICE_INFO device;
  device.address = "10.0.0.5";
  device.port = 8080;
  CheckDevice(device, loads);
  device.address = "a\"] | //*[\"";
  device.port = 0;
  CheckDevice(device, loads);
  return 0;
}
