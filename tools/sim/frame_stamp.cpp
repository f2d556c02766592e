#include "frame_stamp.h"

#include <time.h>

#include <cstring>

namespace strevon {
namespace sim {

namespace {

void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

void Put64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t Get32(const unsigned char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::uint64_t Get64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

void WriteFrameStamp(const FrameStamp& stamp, unsigned char* out) {
  std::memcpy(out, kFrameStampMagic, 4);
  Put32(out + 4, stamp.channel);
  Put64(out + 8, stamp.sequence);
  Put64(out + kSendTimeOffset, stamp.send_time_ns);
  Put32(out + 24, stamp.body_length);
  Put32(out + 28, stamp.kind);
}

std::size_t FrameStampOffset(std::uint32_t kind) {
  return kind == kFrameKindJpeg ? kJpegStampOffset : 0;
}

bool ReadFrameStamp(const unsigned char* body, std::size_t size, FrameStamp* stamp) {
  std::size_t offset = 0;
  if (size >= 4 && body[0] == 0xFF && body[1] == 0xD8) {
    if (body[2] != 0xFF || body[3] != 0xEB) return false;
    offset = kJpegStampOffset;
  }
  if (size < offset + kFrameStampSize) return false;
  const unsigned char* p = body + offset;
  if (std::memcmp(p, kFrameStampMagic, 4) != 0) return false;
  stamp->channel = Get32(p + 4);
  stamp->sequence = Get64(p + 8);
  stamp->send_time_ns = Get64(p + kSendTimeOffset);
  stamp->body_length = Get32(p + 24);
  stamp->kind = Get32(p + 28);
  return true;
}

bool CheckNativeFiller(const unsigned char* body, std::size_t size, std::uint64_t sequence) {
  for (std::size_t k = kFrameStampSize; k < size; ++k) {
    if (body[k] != FillerByte(k, sequence)) return false;
  }
  return true;
}

std::uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

}  // namespace sim
}  // namespace strevon
