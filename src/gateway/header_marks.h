// Header block marks: where a header block has its colons and its line
// ends ("\r\n"), as bit masks of 64 bytes at a time. A header block is a
// few short lines: a search per line end and per colon costs more in its
// set-up and its mispredicted branches than in the search itself, and a
// walk of marks one at a time costs a branch per mark. With masks, a line
// takes its end and its first two colons from one word each.
//
// Stateless functions for whoever splits a block (ServerMessage, on the
// receiver thread); they only read the block they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "The header block marks read the block as little-endian words"
#endif

namespace quorvel {

namespace marks {

constexpr std::size_t kChunk = 16;
constexpr std::size_t kWindow = 64;

// The marks of one chunk: bit k set when byte k is one.
struct ChunkBits {
  std::uint32_t colons = 0;
  std::uint32_t returns = 0;    // '\r'
  std::uint32_t lineFeeds = 0;  // '\n'
};

// Bit k set when byte k of the eight in word equals c.
inline std::uint32_t WordBits(std::uint64_t word, char c) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
  const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
  // The top bit of every zero byte of x, and of no other byte.
  const std::uint64_t top = ~(((x & kLow7) + kLow7) | x | kLow7);
  // Byte k's top bit moved to bit 56 + k; every other product lands above
  // bit 63 or below bit 56, without carries.
  return static_cast<std::uint32_t>(((top >> 7) * 0x0102040810204080ull) >> 56);
}

// The word-at-a-time form, which every target has.
inline ChunkBits ChunkMarksPortable(const char* chunk) {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  std::memcpy(&low, chunk, sizeof low);
  std::memcpy(&high, chunk + sizeof low, sizeof high);
  ChunkBits bits;
  bits.colons = WordBits(low, ':') | (WordBits(high, ':') << 8);
  bits.returns = WordBits(low, '\r') | (WordBits(high, '\r') << 8);
  bits.lineFeeds = WordBits(low, '\n') | (WordBits(high, '\n') << 8);
  return bits;
}

// The same, with the vector instructions where the target has them.
inline ChunkBits ChunkMarks(const char* chunk) {
#if defined(__SSE2__)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
  const auto bitsOf = [&bytes](char c) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
  };
  ChunkBits bits;
  bits.colons = bitsOf(':');
  bits.returns = bitsOf('\r');
  bits.lineFeeds = bitsOf('\n');
  return bits;
#else
  return ChunkMarksPortable(chunk);
#endif
}

// The marks of the 64 bytes from base: bit k for byte base + k.
struct WindowBits {
  std::uint64_t colons = 0;
  // Bit k where byte base + k is a '\r' that a '\n' follows within the
  // block; a lone '\r' belongs to its line.
  std::uint64_t lineEnds = 0;
};

// The marks of the 64 bytes at window, all of which may be read.
inline void ReadWindow(const char* window, std::uint64_t& colons, std::uint64_t& returns,
                       std::uint64_t& lineFeeds) {
  colons = returns = lineFeeds = 0;
  for (std::size_t chunk = 0; chunk < kWindow / kChunk; ++chunk) {
    const ChunkBits bits = ChunkMarks(window + chunk * kChunk);
    const unsigned shift = static_cast<unsigned>(chunk * kChunk);
    colons |= static_cast<std::uint64_t>(bits.colons) << shift;
    returns |= static_cast<std::uint64_t>(bits.returns) << shift;
    lineFeeds |= static_cast<std::uint64_t>(bits.lineFeeds) << shift;
  }
}

// The window of the size bytes at data that starts at base (< size). Only
// the block's own bytes are read: a window that would pass its end is read
// as the block's last 64 bytes, shifted, or, in a block shorter than that,
// from a zero-filled copy (a zero is no mark).
inline WindowBits WindowAt(const char* data, std::size_t size, std::size_t base) {
  std::uint64_t colons = 0;
  std::uint64_t returns = 0;
  std::uint64_t lineFeeds = 0;
  std::uint64_t nextIsLineFeed = 0;
  if (size - base > kWindow) {
    ReadWindow(data + base, colons, returns, lineFeeds);
    nextIsLineFeed = data[base + kWindow] == '\n' ? 1 : 0;
  } else if (size >= kWindow) {
    ReadWindow(data + size - kWindow, colons, returns, lineFeeds);
    const unsigned seen = static_cast<unsigned>(base + kWindow - size);
    colons >>= seen;
    returns >>= seen;
    lineFeeds >>= seen;
  } else {
    char copy[kWindow] = {};
    std::memcpy(copy, data, size);
    ReadWindow(copy, colons, returns, lineFeeds);
  }
  WindowBits bits;
  bits.colons = colons;
  bits.lineEnds = returns & ((lineFeeds >> 1) | (nextIsLineFeed << 63));
  return bits;
}

}  // namespace marks

}  // namespace quorvel
