// CGatewayPTZHandler: the PTZ driver object of a Gateway device: its
// controls are CGatewayPTZControls. Every driver has one from Open to Close,
// whatever its cameras are. Ownership and threads as CBasePTZHandler.
#pragma once

#include <cstdint>

#include "ptz/base_ptz_handler.h"

namespace quorvel {

class CGatewayPTZHandler : public CBasePTZHandler {
 public:
  CGatewayPTZHandler(IDriver* driver, std::uint32_t channelCount);
  ~CGatewayPTZHandler() override;

  CBasePTZControl* CreateControl(std::uint32_t channel) override;
};

}  // namespace quorvel
