// DeviceSetup: the host's description of one device, handed to Open: the
// device parameters (model, channel, input and output counts), the
// connection parameters (Gateway address, port, user, password, connection
// value) and the custom parameters a capability query produced. Owned by
// the host side; the driver only reads it during Open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "strevon.h"

namespace strevon {
namespace host {

struct DeviceConfig {
  std::string model = "Strevon Gateway";
  std::uint32_t channelCount = 0;
  std::uint32_t inputCount = 0;
  std::uint32_t outputCount = 0;
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;
  std::string userName;
  std::string password;
  std::uint32_t connectionValue = 1;  // 1: JPEG frames
  std::vector<std::string> customParameters;  // index 1 first
};

class DeviceSetup : public quorvel::ipcapture::IDeviceSetup {
 public:
  explicit DeviceSetup(DeviceConfig config);

  quorvel::ipcapture::IDeviceParams* GetDeviceParams() override { return &m_deviceParams; }
  quorvel::ipcapture::IConnectionParams* GetConnectionParams() override { return &m_connectionParams; }
  const char* GetCustomParameter(int index) override;

  const DeviceConfig& Config() const { return m_config; }

 private:
  class DeviceParams : public quorvel::ipcapture::IDeviceParams {
   public:
    explicit DeviceParams(const DeviceConfig& c) : m_c(c) {}
    const char* GetModel() override { return m_c.model.c_str(); }
    std::uint32_t GetChannelCount() override { return m_c.channelCount; }
    std::uint32_t GetInputCount() override { return m_c.inputCount; }
    std::uint32_t GetOutputCount() override { return m_c.outputCount; }

   private:
    const DeviceConfig& m_c;
  };

  class ConnectionParams : public quorvel::ipcapture::IConnectionParams {
   public:
    explicit ConnectionParams(const DeviceConfig& c) : m_c(c) {}
    const char* GetAddress() override { return m_c.address.c_str(); }
    std::uint16_t GetPort() override { return m_c.port; }
    std::uint32_t GetConnectionValue() override { return m_c.connectionValue; }
    const char* GetUserName() override { return m_c.userName.c_str(); }
    const char* GetPassword() override { return m_c.password.c_str(); }

   private:
    const DeviceConfig& m_c;
  };

  DeviceConfig m_config;
  DeviceParams m_deviceParams;
  ConnectionParams m_connectionParams;
};

}  // namespace host
}  // namespace strevon
