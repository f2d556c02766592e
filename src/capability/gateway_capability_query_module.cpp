#include "capability/gateway_capability_query_module.h"

#include <new>

#include "capability/gateway_properties.h"

namespace quorvel {

CGatewayCapabilityQueryModule::~CGatewayCapabilityQueryModule() = default;

CBaseCameraProperties* CGatewayCapabilityQueryModule::CreateProperties() {
  return new (std::nothrow) CGatewayProperties(GetDeviceInfo(), GetFlag() ? 1 : 0);
}

}  // namespace quorvel
