// Byte-level constants of the Gateway wire format, written down once.
// Shared by the request encoder, the server-message reader and the Gateway
// simulator; nothing here depends on any other part of the driver.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {
namespace wire {

// Every server message at protocol level above 2 starts with these 15 bytes:
// the 32-bit value 7, the letters "Message" and the 32-bit value 0.
constexpr std::size_t kStartMarkerSize = 15;
constexpr unsigned char kStartMarker[kStartMarkerSize] = {
    0x07, 0x00, 0x00, 0x00, 'M', 'e', 's', 's', 'a', 'g', 'e', 0x00, 0x00, 0x00, 0x00};

// Length fields are unsigned 32-bit little-endian.
constexpr std::size_t kLengthSize = 4;

// Largest header or body length accepted from the Gateway (0xFFFFF).
constexpr std::uint32_t kMaxBlockLength = 1048575;

// Header blocks of this length or longer are read and dropped.
constexpr std::uint32_t kHeaderLimit = 512;

// At protocol levels above this one, server messages carry the start marker.
constexpr int kMarkerlessProtocolLevel = 2;

inline void PutUint32Le(unsigned char* out, std::uint32_t value) {
  out[0] = static_cast<unsigned char>(value & 0xFF);
  out[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
  out[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
  out[3] = static_cast<unsigned char>((value >> 24) & 0xFF);
}

inline std::uint32_t GetUint32Le(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
         (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

}  // namespace wire
}  // namespace quorvel
