// CGatewayPTZControl: the PTZ control of one channel whose commands go to
// the Gateway: its command channel is a CGatewayPTZComm. Ownership and
// threads as CBasePTZControl.
#pragma once

#include <cstdint>

#include "ptz/base_ptz_control.h"

namespace quorvel {

class CGatewayPTZControl : public CBasePTZControl {
 public:
  CGatewayPTZControl(IDriver* driver, std::uint32_t channel);
  ~CGatewayPTZControl() override;

  CBasePTZComm* CreateComm() override;
};

}  // namespace quorvel
