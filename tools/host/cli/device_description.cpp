#include "device_description.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace strevon {
namespace hosttool {

namespace {

using nlohmann::json;

std::vector<std::string> SplitSemicolons(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(';', start);
    pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return pieces;
    start = end + 1;
  }
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The pid of the position-th parameter named prefix + number.
std::string IoPid(const std::vector<host::CapabilityParameter>& parameters, const std::string& prefix,
                  std::uint32_t position) {
  std::uint32_t seen = 0;
  for (const host::CapabilityParameter& p : parameters) {
    if (!StartsWith(p.name, prefix)) continue;
    if (seen++ != position) continue;
    const std::vector<std::string> pieces = SplitSemicolons(p.value);
    return pieces.size() == 2 ? pieces[1] : std::string();
  }
  return {};
}

}  // namespace

std::uint32_t DeviceDescription::Capability(std::uint32_t id) const {
  const auto it = capabilities.find(id);
  return it == capabilities.end() ? 0 : it->second;
}

std::vector<ChannelEntry> DeviceDescription::Channels() const {
  std::vector<ChannelEntry> out;
  for (const host::CapabilityParameter& p : parameters) {
    if (!StartsWith(p.name, "Channel ")) continue;
    const std::vector<std::string> pieces = SplitSemicolons(p.value);
    if (pieces.size() != 4) continue;
    ChannelEntry entry;
    entry.channel = static_cast<std::uint32_t>(out.size());
    entry.profileId = static_cast<std::uint32_t>(std::strtoul(pieces[0].c_str(), nullptr, 10));
    entry.pid = pieces[1];
    entry.ptz = std::strtol(pieces[2].c_str(), nullptr, 10) != 0;
    entry.ptzCapabilities = pieces[3];
    out.push_back(entry);
  }
  return out;
}

std::string DeviceDescription::InputPid(std::uint32_t position) const {
  return IoPid(parameters, "Input ", position);
}

std::string DeviceDescription::OutputPid(std::uint32_t position) const {
  return IoPid(parameters, "Output ", position);
}

host::DeviceConfig DeviceDescription::ToDeviceConfig(std::uint32_t connectionValue) const {
  host::DeviceConfig config;
  config.model = deviceName.empty() ? "Gateway" : deviceName;
  config.channelCount = ChannelCount();
  config.inputCount = InputCount();
  config.outputCount = OutputCount();
  config.address = endpoint.address;
  config.port = endpoint.port;
  config.userName = userName;
  config.password = password;
  config.connectionValue = connectionValue;
  // A host keeps the parameters as one gap-free list counted from 1.
  std::uint32_t expected = 1;
  for (const host::CapabilityParameter& p : parameters) {
    if (p.index != expected) break;
    config.customParameters.push_back(p.value);
    ++expected;
  }
  return config;
}

DeviceDescription DeviceDescription::FromSink(const host::CapabilityResultSink& sink,
                                              const Endpoint& endpoint, const std::string& userName,
                                              const std::string& password,
                                              std::uint32_t frameRateFlag) {
  DeviceDescription d;
  d.endpoint = endpoint;
  d.userName = userName;
  d.password = password;
  d.frameRateFlag = frameRateFlag;
  d.deviceName = sink.DeviceName();
  d.capabilities = sink.Capabilities();
  d.resolutions = sink.Resolutions();
  d.frameIntervals = sink.FrameIntervals();
  d.defaultFrameInterval = sink.DefaultFrameInterval();
  d.parameters = sink.Parameters();
  return d;
}

std::string DeviceDescription::ToJson() const {
  json j;
  j["address"] = endpoint.address;
  j["port"] = endpoint.port;
  j["user"] = userName;
  j["password"] = password;
  j["frame_rate_flag"] = frameRateFlag;
  j["device_name"] = deviceName;
  json caps = json::object();
  for (const auto& c : capabilities) caps[std::to_string(c.first)] = c.second;
  j["capabilities"] = caps;
  j["channels"] = ChannelCount();
  j["inputs"] = InputCount();
  j["outputs"] = OutputCount();
  json resolutionList = json::array();
  for (const host::CapabilityResolution& r : resolutions) {
    resolutionList.push_back(
        {{"text", r.text}, {"width", r.width}, {"height", r.height}, {"interval_ms", r.intervalMs}});
  }
  j["resolutions"] = resolutionList;
  j["frame_intervals_ms"] = frameIntervals;
  j["default_frame_interval_ms"] = defaultFrameInterval;
  json parameterList = json::array();
  for (const host::CapabilityParameter& p : parameters) {
    parameterList.push_back({{"index", p.index},
                             {"name", p.name},
                             {"value", p.value},
                             {"per_object", p.perObject},
                             {"option", p.option}});
  }
  j["parameters"] = parameterList;
  return j.dump(2) + "\n";
}

bool DeviceDescription::FromJson(const std::string& text, DeviceDescription* out, std::string* error) {
  try {
    const json j = json::parse(text);
    DeviceDescription d;
    d.endpoint.address = j.at("address").get<std::string>();
    d.endpoint.port = j.at("port").get<std::uint16_t>();
    d.userName = j.at("user").get<std::string>();
    d.password = j.at("password").get<std::string>();
    d.frameRateFlag = j.value("frame_rate_flag", 0u);
    d.deviceName = j.value("device_name", std::string());
    for (const auto& c : j.at("capabilities").items()) {
      d.capabilities[static_cast<std::uint32_t>(std::stoul(c.key()))] = c.value().get<std::uint32_t>();
    }
    for (const json& r : j.value("resolutions", json::array())) {
      d.resolutions.push_back(host::CapabilityResolution{
          r.at("text").get<std::string>(), r.at("width").get<std::uint32_t>(),
          r.at("height").get<std::uint32_t>(), r.at("interval_ms").get<std::uint32_t>()});
    }
    d.frameIntervals = j.value("frame_intervals_ms", std::vector<std::uint32_t>());
    d.defaultFrameInterval = j.value("default_frame_interval_ms", 0u);
    for (const json& p : j.at("parameters")) {
      host::CapabilityParameter parameter;
      parameter.index = p.at("index").get<std::uint32_t>();
      parameter.name = p.at("name").get<std::string>();
      parameter.value = p.at("value").get<std::string>();
      parameter.perObject = p.value("per_object", 0u);
      parameter.option = p.value("option", 0u);
      d.parameters.push_back(parameter);
    }
    if (d.endpoint.address.empty() || d.endpoint.port == 0) {
      *error = "the device file names no Gateway address and port";
      return false;
    }
    *out = std::move(d);
    return true;
  } catch (const std::exception& e) {
    *error = std::string("not a device file: ") + e.what();
    return false;
  }
}

bool DeviceDescription::Save(const std::string& path, std::string* error) const {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream file(tmp, std::ios::binary | std::ios::trunc);
    if (!file) {
      *error = "cannot write " + path;
      return false;
    }
    file << ToJson();
    if (!file.flush()) {
      *error = "cannot write " + path;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool DeviceDescription::Load(const std::string& path, DeviceDescription* out, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read the device file " + path +
             " (write one with: strevon-host query ADDRESS:PORT --user U --password P --save " + path +
             ")";
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  if (!FromJson(text.str(), out, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

std::string CapabilityName(std::uint32_t id) {
  switch (id) {
    case 0: return "video channels";
    case 1: return "live video";
    case 2: return "digital inputs";
    case 3: return "digital outputs";
    case 4: return "audio inputs";
    case 6: return "codec kind 2";
    case 7: return "codec kind 3";
    case 8: return "codec kind 1";
    case 13: return "audio channels";
    default: return "";
  }
}

}  // namespace hosttool
}  // namespace strevon
