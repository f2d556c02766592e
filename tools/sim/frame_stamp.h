// The checkable header that every simulated video frame carries, so that a
// receiver can tell which stream, which frame and when it was sent.
//
// Layout (32 bytes, integers little-endian):
//   0  u32  magic: the bytes 'S' 'V' 'F' '1'
//   4  u32  channel id ("Cid" of the stream)
//   8  u64  sequence number, from 0 per subscription
//  16  u64  send time: CLOCK_MONOTONIC nanoseconds, stamped right before the
//           first byte of the message is written to the socket
//  24  u32  total body length in bytes
//  28  u32  kind: 1 JPEG, 2 native (H264-labelled opaque bytes)
//
// Where it sits in the body:
//   native: at offset 0; every later byte k is FillerByte(k, sequence).
//   JPEG:   after SOI (FF D8) as the payload of an APP11 segment
//           (FF EB, big-endian length 34), so at offset 6; the body is a
//           JPEG image (or, in synthetic mode, COM segments of FillerByte
//           values) ending with EOI (FF D9).
#pragma once

#include <cstddef>
#include <cstdint>

namespace strevon {
namespace sim {

constexpr std::size_t kFrameStampSize = 32;
constexpr unsigned char kFrameStampMagic[4] = {'S', 'V', 'F', '1'};
constexpr std::uint32_t kFrameKindJpeg = 1;
constexpr std::uint32_t kFrameKindNative = 2;
constexpr std::size_t kJpegStampOffset = 6;
constexpr std::size_t kSendTimeOffset = 16;  // within the stamp

struct FrameStamp {
  std::uint32_t channel = 0;
  std::uint64_t sequence = 0;
  std::uint64_t send_time_ns = 0;
  std::uint32_t body_length = 0;
  std::uint32_t kind = 0;
};

// Writes the 32 stamp bytes at out.
void WriteFrameStamp(const FrameStamp& stamp, unsigned char* out);

// Finds and reads the stamp of a frame body (either placement). False when
// the body is too short or the magic is missing.
bool ReadFrameStamp(const unsigned char* body, std::size_t size, FrameStamp* stamp);

// Offset of the stamp inside a body of the given kind.
std::size_t FrameStampOffset(std::uint32_t kind);

inline unsigned char FillerByte(std::size_t offset, std::uint64_t sequence) {
  return static_cast<unsigned char>((offset * 7u + sequence) & 0xFFu);
}

// True when a native body's filler bytes are the expected ones.
bool CheckNativeFiller(const unsigned char* body, std::size_t size, std::uint64_t sequence);

// CLOCK_MONOTONIC now, in nanoseconds.
std::uint64_t MonotonicNs();

}  // namespace sim
}  // namespace strevon
