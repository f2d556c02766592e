#include "video/frame_description.h"

#include <cstring>
#include <string>

#include "gateway/server_message.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr int kFirstVersionWithSize = 3;

std::uint32_t HeaderNumber(const ServerMessage& message, ServerMessage::Known key) {
  int value = 0;
  ParseInt(message.HeaderView(key), value);
  return static_cast<std::uint32_t>(value);
}

}  // namespace

FrameDescription DescribeFrame(const ServerMessage& message, int kalmenoVersion) {
  FrameDescription description;
  if (kalmenoVersion < kFirstVersionWithSize) {
    description.fourcc = kFourccJpeg;
    description.width = HeaderNumber(message, ServerMessage::Known::kWidth);
    description.height = HeaderNumber(message, ServerMessage::Known::kHeight);
  } else {
    description.fourcc = HeaderNumber(message, ServerMessage::Known::kFourcc);
    const auto size = ParseResolution(message.HeaderView(ServerMessage::Known::kSize));
    description.width = size.first;
    description.height = size.second;
  }
  return description;
}

FrameDescription FrameDescriber::Describe(const ServerMessage& message, int kalmenoVersion) {
  const bool sized = kalmenoVersion >= kFirstVersionWithSize;
  const std::string_view first =
      message.HeaderView(sized ? ServerMessage::Known::kFourcc : ServerMessage::Known::kWidth);
  const std::string_view second =
      message.HeaderView(sized ? ServerMessage::Known::kSize : ServerMessage::Known::kHeight);
  if (kalmenoVersion == m_version && m_first.Equals(first) && m_second.Equals(second)) return m_last;
  m_last = DescribeFrame(message, kalmenoVersion);
  m_version = kalmenoVersion;
  m_first.Keep(first);
  m_second.Keep(second);
  return m_last;
}

void FrameDescriber::KeptText::Keep(std::string_view text) {
  kept = text.size() <= bytes.size();
  size = kept ? text.size() : 0;
  if (size != 0) std::memcpy(bytes.data(), text.data(), size);
}

std::uint32_t FrameSizeClass(std::uint32_t width, std::uint32_t height) {
  if (width < 200) return 1;
  if (width < 400) return 2;
  if (width < 1024 && width > 2ull * height) return 3;
  return 4;
}

}  // namespace quorvel
