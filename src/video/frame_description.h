// How a "video/stream" message describes its frame to the host: the fourcc,
// width and height by the Gateway's Kalmeno version, the size class the
// host files the frame under.
// The functions are stateless and safe from any thread; a FrameDescriber
// belongs to one stream. Used by the video channel on the Gateway client's
// receiver thread for every frame, so nothing here allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

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

// DescribeFrame for the frames of one stream, which repeat their fourcc and
// size: the numbers are parsed again only when the header texts or the
// version differ from those of the last frame described. Owned by one
// video channel and used by one thread at a time (the receiver thread).
class FrameDescriber {
 public:
  FrameDescription Describe(const ServerMessage& message, int kalmenoVersion);

 private:
  // A header text as last seen; a text longer than the room is never kept,
  // so it never matches.
  struct KeptText {
    std::array<char, 24> bytes{};
    std::size_t size = 0;
    bool kept = false;

    bool Equals(std::string_view text) const {
      return kept && text.size() == size && std::string_view(bytes.data(), size) == text;
    }
    void Keep(std::string_view text);
  };

  int m_version = 0;
  KeptText m_first;   // "Width" below version 3, else "Fourcc"
  KeptText m_second;  // "Height" below version 3, else "Size"
  FrameDescription m_last;
};

// 1 below 200 pixels wide, 2 below 400, 3 below 1024 when wider than twice
// the height (a half-height field), else 4.
std::uint32_t FrameSizeClass(std::uint32_t width, std::uint32_t height);

}  // namespace quorvel
