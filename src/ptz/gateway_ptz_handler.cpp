#include "ptz/gateway_ptz_handler.h"

#include <new>

#include "ptz/gateway_ptz_control.h"

namespace quorvel {

CGatewayPTZHandler::CGatewayPTZHandler(IDriver* driver, std::uint32_t channelCount)
    : CBasePTZHandler(driver, channelCount) {}

CGatewayPTZHandler::~CGatewayPTZHandler() = default;

CBasePTZControl* CGatewayPTZHandler::CreateControl(std::uint32_t channel) {
  return new (std::nothrow) CGatewayPTZControl(Driver(), channel);
}

}  // namespace quorvel
