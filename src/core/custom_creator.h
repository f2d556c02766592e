// ICustomCreator: the driver's factory for per-channel objects, used by the
// video capture object when the host starts a channel. The caller owns what
// it gets.
#pragma once

#include <cstdint>

#include "core/camera_channel.h"
#include "strevon.h"

namespace quorvel {

class ICustomCreator {
 public:
  virtual ~ICustomCreator() = default;                                        // 0
  virtual ICameraChannel* CreateChannel(std::uint32_t channel,
                                        ipcapture::IFrameHandler* handler) = 0;  // 1
  virtual ISecondaryChannel* CreateSecondaryChannel(std::uint32_t channel,
                                                    ipcapture::IFrameHandler* handler) = 0;  // 2
};

}  // namespace quorvel
