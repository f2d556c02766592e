// The driver's picture of one Gateway profile: its cameras with their PTZ
// capabilities, and its digital inputs and outputs. The profile reader fills
// these during Open; afterwards they are only read (see IDriver), so any
// thread may read them without a lock.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// Which PTZ functions a camera has and how many presets it offers. Its text
// form (the capability string) travels inside a camera's custom parameter.
struct CPtzCapabilities {
  CPtzCapabilities() = default;
  CPtzCapabilities(const CPtzCapabilities&) = default;
  CPtzCapabilities& operator=(const CPtzCapabilities&) = default;
  virtual ~CPtzCapabilities() = default;

  // The capability string, "Pan=1, Tilt=1, Zoom=1, Focus=0, Iris=0,
  // Center=0, Unzoom=0, AreaZoom=0, Preset=16", and its reader.
  std::string ToString() const;
  void FromString(const std::string& text);

  bool pan = false;
  bool tilt = false;
  bool zoom = false;
  bool focus = false;
  bool iris = false;
  bool areaZoom = false;
  bool center = false;
  bool unzoom = false;
  std::uint32_t presetCount = 0;
};

// One camera of the driver's camera list. Host channel i is served by the
// record at position i of the list; `id` is the camera's position in the
// user's Gateway profile.
struct CameraRecord {
  std::uint32_t id = 0;
  std::string pid;   // the Gateway's identifier of the camera
  bool ptz = false;
  CPtzCapabilities ptzCapabilities;
};

// One digital input or output: its position in the profile and its pid.
struct IORecord {
  std::uint32_t id = 0;
  std::string pid;
};

}  // namespace quorvel
