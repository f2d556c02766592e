#include "infra/settings.h"

#include "infra/device_info.h"
#include "infra/platform/process.h"
#include "infra/text_helpers.h"
#include "infra/xml_parser.h"

namespace quorvel {

namespace {

constexpr const char* kSettingsFileName = "Strevon.xml";
constexpr const char* kCommonSection = "Configuration/Common";

// The device's own section path, or "" when none can be written for it. The
// address goes into a double-quoted XPath literal, which cannot hold a
// double quote; such an address has no section rather than a path that
// could select someone else's.
std::string GatewaySectionPath(const DEVICE_INFO& device) {
  if (device.address.find('"') != std::string::npos) return std::string();
  return FormatString("Configuration/Gateway[@address=\"%s\"][@port=\"%u\"]",
                      device.address.c_str(), static_cast<unsigned int>(device.port));
}

// The capability query reports each side to the host as a 16-bit value.
constexpr std::uint32_t kLargestSide = 0xFFFF;

bool IsSide(std::uint32_t value) { return value != 0 && value <= kLargestSide; }

// Resolution items are "<width>x<height>" with a lower-case x; both numbers
// must be present and non-zero. A side that a 16-bit value cannot hold (or
// a negative one) skips the item: cut to 16 bits it would name another
// resolution.
void ReadResolutions(const CXMLParser& parser, const std::string& section,
                     GatewaySettings& settings) {
  for (const std::string& item : parser.GetTexts(section + "/Resolutions/Item")) {
    const std::vector<std::string> parts = Split(item, 'x');
    if (parts.size() != 2) continue;
    const std::uint32_t width = ParseLeadingUint(parts[0]);
    const std::uint32_t height = ParseLeadingUint(parts[1]);
    if (IsSide(width) && IsSide(height)) settings.resolutions.emplace_back(width, height);
  }
}

}  // namespace

GatewaySettings ReadGatewaySettings(const DEVICE_INFO& device) {
  GatewaySettings settings;
  CXMLParser parser;
  if (!parser.LoadFile()) return settings;

  // One section answers every key: a Gateway section missing a key does not
  // borrow it from Common.
  std::string section = GatewaySectionPath(device);
  if (section.empty() || !parser.NodeExists(section)) section = kCommonSection;

  settings.profile = parser.GetText(section + "/Profile");
  ReadResolutions(parser, section, settings);
  int logLevel = 0;
  ParseInt(parser.GetText(section + "/LogLevel"), logLevel);  // 0 when not a number
  settings.logLevel = static_cast<std::uint32_t>(logLevel);
  settings.debugEnabled = parser.GetText(section + "/DebugEnabled") == "yes";
  settings.resilient = parser.GetText(section + "/Resilient") == "yes";
  parser.Close();
  return settings;
}

std::uint32_t ReadStreamType(const DEVICE_INFO& device, std::uint32_t channel) {
  CXMLParser parser;
  if (!parser.LoadFile()) return kStreamTypeFullRate;

  const unsigned int id = channel;
  const std::string gateway = GatewaySectionPath(device);
  std::vector<std::string> candidates;
  if (!gateway.empty()) {
    candidates.push_back(gateway + FormatString("/VideoChannel[@id=\"%u\"]", id));
    candidates.push_back(gateway + "/VideoChannel");
  }
  candidates.push_back(FormatString("%s/VideoChannel[@id=\"%u\"]", kCommonSection, id));
  const std::string fallback = std::string(kCommonSection) + "/VideoChannel";

  std::string section = fallback;
  for (const std::string& candidate : candidates) {
    if (parser.NodeExists(candidate)) {
      section = candidate;
      break;
    }
  }
  const bool motion = parser.GetText(section + "/StreamType") == "motion";
  parser.Close();
  return motion ? kStreamTypeMotion : kStreamTypeFullRate;
}

std::string GetSettingsFilePath() {
  const std::string home = platform::DriverHomeDirectory();
  // Without a home directory there is no settings file; a bare name would
  // read whatever the current directory happens to hold.
  if (home.empty()) return std::string();
  return home + kSettingsFileName;
}

}  // namespace quorvel
