#include "device_setup.h"

#include <utility>

namespace strevon {
namespace host {

DeviceSetup::DeviceSetup(DeviceConfig config)
    : m_config(std::move(config)), m_deviceParams(m_config), m_connectionParams(m_config) {}

const char* DeviceSetup::GetCustomParameter(int index) {
  if (index < 1 || static_cast<std::size_t>(index) > m_config.customParameters.size()) {
    return nullptr;
  }
  return m_config.customParameters[static_cast<std::size_t>(index) - 1].c_str();
}

}  // namespace host
}  // namespace strevon
