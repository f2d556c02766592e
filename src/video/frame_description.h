// How a "video/stream" message describes its frame to the host: the fourcc,
// width and height by the Gateway's Kalmeno version, the size class the
// host files the frame under.
// Stateless; safe from any thread. Used by the video channel on the Gateway
// client's receiver thread for every frame, so nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

class ServerMessage;

// The four bytes "JPEG" read as a little-endian u32.
constexpr std::uint32_t kFourccJpeg = 0x4745504A;

struct FrameDescription {
  std::uint32_t fourcc = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Version 2 or below: JPEG with the "Width" and "Height" headers. Version 3
// or above: the decimal "Fourcc" header and the "Size" header ("640x480").
// A header that is missing or not a number gives 0.
FrameDescription DescribeFrame(const ServerMessage& message, int kalmenoVersion);

// 1 below 200 pixels wide, 2 below 400, 3 below 1024 when wider than twice
// the height (a half-height field), else 4.
std::uint32_t FrameSizeClass(std::uint32_t width, std::uint32_t height);

}  // namespace quorvel
