// DEVICE_INFO: the Gateway endpoint of one device, built by the driver from
// the host's connection parameters during Open (or by the capability query
// from its Start arguments). Copied by value into every part that connects
// (the Gateway client, its transport, the capability query, the settings and
// log readers); never shared, so no lock.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

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

}  // namespace quorvel
