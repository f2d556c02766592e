#include "gateway/header_marks.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quorvel {
namespace {

std::uint32_t NaiveBits(const char* chunk, char c) {
  std::uint32_t bits = 0;
  for (std::size_t k = 0; k < marks::kChunk; ++k) {
    if (chunk[k] == c) bits |= 1u << k;
  }
  return bits;
}

// Every byte value at every place of a chunk, over a background of marks
// and of bytes one bit away from a mark (0xba, 0x8d, ';', '\x0c'), where a
// carry between bytes would show.
TEST(HeaderMarksTest, ChunkMarksAgreeWithByteByByte) {
  const std::string backgrounds[] = {std::string(16, 'a'),    std::string(16, ':'),
                                     std::string(16, '\r'),   std::string(16, '\n'),
                                     std::string(16, '\xba'), std::string(16, '\x8d'),
                                     std::string(16, ';'), std::string(16, '\x0c'),
                                     std::string(16, '\0'), std::string(16, '\xff')};
  for (const std::string& background : backgrounds) {
    for (std::size_t place = 0; place < marks::kChunk; ++place) {
      for (int value = 0; value < 256; ++value) {
        std::string chunk = background;
        chunk[place] = static_cast<char>(value);
        const std::uint32_t colons = NaiveBits(chunk.data(), ':');
        const std::uint32_t returns = NaiveBits(chunk.data(), '\r');
        const std::uint32_t lineFeeds = NaiveBits(chunk.data(), '\n');
        for (const marks::ChunkBits bits :
             {marks::ChunkMarks(chunk.data()), marks::ChunkMarksPortable(chunk.data())}) {
          ASSERT_EQ(colons, bits.colons) << place << " " << value;
          ASSERT_EQ(returns, bits.returns) << place << " " << value;
          ASSERT_EQ(lineFeeds, bits.lineFeeds) << place << " " << value;
        }
      }
    }
  }
}

// Blocks of every length up to a few windows, so that the short block's
// zero-filled copy, the shifted last window, the window edges and a line end
// split across two windows are all crossed.
TEST(HeaderMarksTest, WindowsAgreeWithByteByByte) {
  std::mt19937 random(7);
  const char alphabet[] = {':', '\r', '\n', ' ', 'a', '\0', '\xba', '\x8d'};
  for (std::size_t size = 1; size <= 3 * marks::kWindow + 1; ++size) {
    for (int round = 0; round < 40; ++round) {
      std::string block(size, ' ');
      for (char& c : block) c = alphabet[random() % sizeof alphabet];
      for (std::size_t base = 0; base < size; base += marks::kWindow) {
        std::uint64_t colons = 0;
        std::uint64_t lineEnds = 0;
        for (std::size_t k = 0; k < marks::kWindow && base + k < size; ++k) {
          const std::size_t at = base + k;
          if (block[at] == ':') colons |= std::uint64_t{1} << k;
          if (block[at] == '\r' && at + 1 < size && block[at + 1] == '\n') lineEnds |= std::uint64_t{1} << k;
        }
        const marks::WindowBits bits = marks::WindowAt(block.data(), size, base);
        ASSERT_EQ(colons, bits.colons) << "size " << size << " base " << base;
        ASSERT_EQ(lineEnds, bits.lineEnds) << "size " << size << " base " << base;
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
