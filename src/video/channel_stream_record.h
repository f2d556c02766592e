// ChannelStreamRecord: what a video channel tells the video manager about
// its stream each time it registers, deregisters or re-registers. A plain
// value: the channel builds a fresh one from its current fields, the manager
// keeps a copy per registered channel number and builds the subscription
// and unsubscription requests from it.
#pragma once

#include <cstdint>

#include "core/camera_record.h"

namespace quorvel {

class ICameraChannel;

struct ChannelStreamRecord {
  // The host's channel index: the key in the manager's map and the "gid"
  // (and "cid") of the requests.
  std::uint32_t channel = 0;
  // Not owned. The manager calls it only between registration and removal.
  ICameraChannel* cameraChannel = nullptr;
  // A copy of the driver's camera record at position `channel`.
  CameraRecord camera;
  // Fields 1 and 2 of the channel parameter block; carried, never sent.
  std::uint32_t blockValue1 = 0;
  std::uint32_t blockValue2 = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // 1 full rate, 0 motion only.
  std::uint32_t streamType = 1;
  // Non-zero asks for the camera's native encoding, 0 for JPEG.
  std::uint32_t native = 0;
};

}  // namespace quorvel
