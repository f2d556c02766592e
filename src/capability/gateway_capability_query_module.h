// CGatewayCapabilityQueryModule: the capability query for a Gateway: each
// fetch reads the device through a CGatewayProperties made for the
// module's device info, with the module's flag as the video standard
// (true: 30 frames per second, false: 25).
//
// Created by the capability exports; see CCapabilityQueryModule for
// ownership and threads.
#pragma once

#include "capability/capability_query_module.h"

namespace quorvel {

class CGatewayCapabilityQueryModule : public CCapabilityQueryModule {
 public:
  CGatewayCapabilityQueryModule(ipcapture::ICapabilityQueryNotify* notify, bool flag)
      : CCapabilityQueryModule(notify, flag) {}
  ~CGatewayCapabilityQueryModule() override;

 protected:
  CBaseCameraProperties* CreateProperties() override;
};

}  // namespace quorvel
