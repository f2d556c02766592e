#include "ptz/gateway_ptz_control.h"

#include <new>

#include "ptz/gateway_ptz_comm.h"

namespace quorvel {

CGatewayPTZControl::CGatewayPTZControl(IDriver* driver, std::uint32_t channel)
    : CBasePTZControl(driver, channel) {}

CGatewayPTZControl::~CGatewayPTZControl() = default;

CBasePTZComm* CGatewayPTZControl::CreateComm() {
  return new (std::nothrow) CGatewayPTZComm(Driver(), static_cast<std::uint16_t>(GetChannel()));
}

}  // namespace quorvel
