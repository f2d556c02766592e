#include "gateway/mark_scanner.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

bool IsMark(char c) { return c == ':' || c == '\r'; }

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
TEST(MarkScannerTest, ChunkMarksAgreeWithByteByByte) {
  const std::string backgrounds[] = {std::string(16, 'a'), std::string(16, ':'), std::string(16, '\r'),
                                     std::string(16, '\xba'), std::string(16, '\x8d'),
                                     std::string(16, ';'), std::string(16, '\x0c'),
                                     std::string(16, '\0'), std::string(16, '\xff')};
  for (const std::string& background : backgrounds) {
    for (std::size_t place = 0; place < marks::kChunk; ++place) {
      for (int value = 0; value < 256; ++value) {
        std::string chunk = background;
        chunk[place] = static_cast<char>(value);
        const std::uint32_t colons = NaiveBits(chunk.data(), ':');
        const std::uint32_t lineBreaks = NaiveBits(chunk.data(), '\r');
        for (const marks::ChunkBits bits :
             {marks::ChunkMarks(chunk.data()), marks::ChunkMarksPortable(chunk.data())}) {
          ASSERT_EQ(colons, bits.colons) << place << " " << value;
          ASSERT_EQ(lineBreaks, bits.lineBreaks) << place << " " << value;
        }
      }
    }
  }
}

// Blocks of every length up to a few chunks, so that the short block's zero
// fill, the overlapping last chunk and the chunk edges are all crossed; the
// scanner must give each mark once, in order, each told apart correctly,
// and then the block's size for good.
TEST(MarkScannerTest, GivesEveryMarkOnceInOrder) {
  std::mt19937 random(7);
  const char alphabet[] = {':', '\r', '\n', ' ', 'a', '\0', '\xba', '\x8d'};
  for (std::size_t size = 0; size <= 3 * marks::kChunk + 1; ++size) {
    for (int round = 0; round < 40; ++round) {
      std::string block(size, ' ');
      for (char& c : block) c = alphabet[random() % sizeof alphabet];
      std::vector<std::pair<std::size_t, bool>> expected;
      for (std::size_t i = 0; i < size; ++i) {
        if (IsMark(block[i])) expected.emplace_back(i, block[i] == ':');
      }
      MarkScanner scanner(block.data(), size);
      std::vector<std::pair<std::size_t, bool>> got;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::size_t at = scanner.Next();
        got.emplace_back(at, scanner.IsColon());
      }
      ASSERT_EQ(expected, got) << "size " << size;
      ASSERT_EQ(size, scanner.Next());
      ASSERT_EQ(size, scanner.Next());
    }
  }
}

}  // namespace
}  // namespace quorvel
