// Produces the bodies of simulated "video/stream" messages: JPEG images of a
// moving test pattern with the camera name and frame counter, synthetic
// JPEG-shaped bodies of an exact size, or opaque native bodies. Each body
// carries the stamp of frame_stamp.h with the send time still zero; the
// connection patches it right before writing.
//
// One FrameSource per connection thread; not safe for concurrent use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scenario.h"

namespace strevon {
namespace sim {

class FrameSource {
 public:
  explicit FrameSource(const VideoSettings& settings);
  ~FrameSource();
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;

  std::vector<unsigned char> MakeJpeg(const std::string& label, std::uint32_t cid, std::uint64_t seq);
  std::vector<unsigned char> MakeNative(std::uint32_t cid, std::uint64_t seq);

 private:
  std::vector<unsigned char> RenderJpeg(const std::string& label, std::uint64_t seq);
  std::vector<unsigned char> SyntheticJpeg(std::uint64_t seq) const;
  void DrawText(const std::string& text, int x, int y, int scale);

  VideoSettings settings_;
  void* encoder_ = nullptr;  // tjhandle, created on first use
  std::vector<unsigned char> pixels_;  // RGB, width * height * 3
};

}  // namespace sim
}  // namespace strevon
