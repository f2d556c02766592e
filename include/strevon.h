// Strevon IP capture driver: the public interface a host compiles against.
//
// The host loads libstrevon.so, resolves the exported entry points by plain
// name and talks to the objects they return only through the abstract
// interfaces below, slot by slot. Slot 0 of every interface is its virtual
// destructor; a derived interface appends its slots after those of its base.
// Interfaces are frozen: slots are never reordered, inserted or removed, and
// reserved slots keep their place as placeholders.
//
// Text crosses the boundary as NUL-terminated UTF-8 strings. Failures are
// returned (bool, null, small codes); nothing is thrown across the boundary.
#ifndef STREVON_H
#define STREVON_H

#include <cstdint>
#include <string>

namespace quorvel {

// The Gateway endpoint of one device. Copied by value into every part that
// connects (the Gateway client, its transport, the capability query).
struct DEVICE_INFO {
  DEVICE_INFO() = default;
  DEVICE_INFO(const DEVICE_INFO&) = default;
  DEVICE_INFO& operator=(const DEVICE_INFO&) = default;
  virtual ~DEVICE_INFO() = default;

  std::uint32_t connectTimeout = 5000;  // ms; connect polls and reply waits
  std::uint32_t secondTimeout = 5000;   // ms; carried along, not read
  std::string address;                  // host name or dotted IPv4 address
  std::uint16_t port = 0;
  std::string userName;
  std::string password;
  std::string model;                    // device model name, only logged
};

// Which PTZ functions a camera has and how many presets it offers. Its text
// form (the capability string) travels inside a camera's custom parameter.
struct CPtzCapabilities {
  CPtzCapabilities() = default;
  CPtzCapabilities(const CPtzCapabilities&) = default;
  CPtzCapabilities& operator=(const CPtzCapabilities&) = default;
  virtual ~CPtzCapabilities() = default;

  // Implemented inside the library (not exported): the capability string,
  // "Pan=1, Tilt=1, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0,
  // AreaZoom=0, Preset=16", and its reader.
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

#endif  // STREVON_H
