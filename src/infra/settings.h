// The settings file "Strevon.xml": read afresh on every call, never written,
// never cached, so an edited file takes effect at the next read. A missing
// or malformed file gives the defaults; nothing is reported. Safe to call
// from any thread (each call parses on its own).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "infra/device_info.h"

namespace quorvel {

struct GatewaySettings {
  std::string profile = "service";
  std::vector<std::pair<std::uint32_t, std::uint32_t>> resolutions;  // width, height
  std::uint32_t logLevel = 2;
  bool debugEnabled = false;
  // Opt-in: after a reconnection the driver registers the host's input
  // consumer again and re-subscribes every registered video channel.
  bool resilient = false;
};

constexpr std::uint32_t kStreamTypeMotion = 0;
constexpr std::uint32_t kStreamTypeFullRate = 1;

// Settings of the device's Gateway section, or of Common when the device has
// no section of its own.
GatewaySettings ReadGatewaySettings(const DEVICE_INFO& device);

// kStreamTypeFullRate or kStreamTypeMotion for one channel.
std::uint32_t ReadStreamType(const DEVICE_INFO& device, std::uint32_t channel);

// Full path of the settings file: the driver's home directory followed by
// "Strevon.xml".
std::string GetSettingsFilePath();

}  // namespace quorvel
