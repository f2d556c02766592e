// MarkScanner: the offsets of every ':' and '\r' in a header block, in
// order, found sixteen bytes at a time. A header block is a few short lines:
// a library search per line end and per colon costs more in its set-up and
// its mispredicted branches than in the search itself.
//
// A value on the stack of whoever splits a block (ServerMessage, on the
// receiver thread); it only reads the block it was given, which must outlive
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "MarkScanner reads the header block as little-endian words"
#endif

namespace quorvel {

namespace marks {

constexpr std::size_t kChunk = 16;

// The marks of one chunk: bit k set when byte k is one.
struct ChunkBits {
  std::uint32_t colons = 0;
  std::uint32_t lineBreaks = 0;  // '\r'
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
  bits.lineBreaks = WordBits(low, '\r') | (WordBits(high, '\r') << 8);
  return bits;
}

// The same, with the vector instructions where the target has them.
inline ChunkBits ChunkMarks(const char* chunk) {
#if defined(__SSE2__)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
  ChunkBits bits;
  bits.colons = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(':'))));
  bits.lineBreaks =
      static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'))));
  return bits;
#else
  return ChunkMarksPortable(chunk);
#endif
}

}  // namespace marks

class MarkScanner {
 public:
  MarkScanner(const char* data, std::size_t size) : m_data(data), m_size(size) {}

  // The next mark's offset; the block's size when there is none left.
  // IsColon then tells which mark it was.
  std::size_t Next() {
    while (m_marks == 0) {
      if (m_next >= m_size) return m_size;
      LoadChunk();
    }
    const std::uint32_t lowest = m_marks & (0u - m_marks);
    m_isColon = (m_colons & lowest) != 0;
    m_marks ^= lowest;
    return m_base + static_cast<std::size_t>(__builtin_ctz(lowest));
  }
  bool IsColon() const { return m_isColon; }

 private:
  void LoadChunk() {
    const std::size_t left = m_size - m_next;
    marks::ChunkBits bits;
    if (left >= marks::kChunk) {
      bits = marks::ChunkMarks(m_data + m_next);
      m_base = m_next;
    } else if (m_size >= marks::kChunk) {
      // The block's last sixteen bytes, without those already scanned.
      m_base = m_size - marks::kChunk;
      bits = marks::ChunkMarks(m_data + m_base);
      const unsigned seen = static_cast<unsigned>(marks::kChunk - left);
      bits.colons = bits.colons >> seen << seen;
      bits.lineBreaks = bits.lineBreaks >> seen << seen;
    } else {
      // A block shorter than a chunk; the zero fill is no mark.
      char chunk[marks::kChunk] = {};
      std::memcpy(chunk, m_data + m_next, left);
      bits = marks::ChunkMarks(chunk);
      m_base = m_next;
    }
    m_colons = bits.colons;
    m_marks = bits.colons | bits.lineBreaks;
    m_next += marks::kChunk;
  }

  const char* const m_data;
  const std::size_t m_size;
  std::size_t m_next = 0;       // the first byte not yet scanned
  std::size_t m_base = 0;       // the offset of the chunk the bits belong to
  std::uint32_t m_marks = 0;    // its marks not yet returned
  std::uint32_t m_colons = 0;   // which of its marks are colons
  bool m_isColon = false;
};

}  // namespace quorvel
