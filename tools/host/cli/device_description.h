// DeviceDescription: everything a capability query learned about one
// Gateway, in the form a host stores it between runs: the connection data,
// the device name, the numbered capabilities, the resolutions and frame
// intervals, and the named parameters whose values go back to the driver at
// Open as its custom parameters. Saved and loaded as JSON (the `--save` file
// of `query`, the `--device` file of the other commands). A plain value;
// no threads.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "capability_sink.h"
#include "device_setup.h"
#include "endpoint.h"

namespace strevon {
namespace hosttool {

// Capability ids a host reads from the query.
enum CapabilityId : std::uint32_t {
  kCapChannels = 0,
  kCapInputs = 2,
  kCapOutputs = 3,
};

// One channel as its custom parameter describes it ("id;pid;ptz;caps").
struct ChannelEntry {
  std::uint32_t channel = 0;  // host channel number, from 0
  std::uint32_t profileId = 0;
  std::string pid;
  bool ptz = false;
  std::string ptzCapabilities;  // "Pan=1, Tilt=1, ..." as the driver wrote it
};

struct DeviceDescription {
  Endpoint endpoint;
  std::string userName;
  std::string password;
  std::uint32_t frameRateFlag = 0;  // the flag the query ran with (1: 30 fps)
  std::string deviceName;
  std::map<std::uint32_t, std::uint32_t> capabilities;
  std::vector<host::CapabilityResolution> resolutions;
  std::vector<std::uint32_t> frameIntervals;
  std::uint32_t defaultFrameInterval = 0;
  std::vector<host::CapabilityParameter> parameters;  // index order, from 1

  std::uint32_t ChannelCount() const { return Capability(kCapChannels); }
  std::uint32_t InputCount() const { return Capability(kCapInputs); }
  std::uint32_t OutputCount() const { return Capability(kCapOutputs); }
  std::uint32_t Capability(std::uint32_t id) const;

  // The channel parameters ("Channel N"), in channel order.
  std::vector<ChannelEntry> Channels() const;
  // The pid of an input or output parameter ("Input N" / "Output N"), by
  // position; empty when there is none.
  std::string InputPid(std::uint32_t position) const;
  std::string OutputPid(std::uint32_t position) const;

  // What the host hands to Open: counts, connection and custom parameters.
  host::DeviceConfig ToDeviceConfig(std::uint32_t connectionValue) const;

  // From a finished query's result sink.
  static DeviceDescription FromSink(const host::CapabilityResultSink& sink, const Endpoint& endpoint,
                                    const std::string& userName, const std::string& password,
                                    std::uint32_t frameRateFlag);

  std::string ToJson() const;
  static bool FromJson(const std::string& text, DeviceDescription* out, std::string* error);
  bool Save(const std::string& path, std::string* error) const;
  static bool Load(const std::string& path, DeviceDescription* out, std::string* error);
};

// Human name of a capability id ("channels", "codec 1" ...), empty when
// the id has no common meaning.
std::string CapabilityName(std::uint32_t id);

}  // namespace hosttool
}  // namespace strevon
