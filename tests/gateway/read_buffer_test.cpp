#include "gateway/read_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace quorvel {
namespace {

struct SlicedStream {
  std::string bytes;
  std::size_t slice, pos = 0, reads = 0;
  ReadBuffer::Fill AsFill() {
    return [this](char* destination, std::size_t size) {
      ++reads;
      const std::size_t n = std::min({size, slice, bytes.size() - pos});
      std::memcpy(destination, bytes.data() + pos, n);
      pos += n;
      return n;
    };
  }
};

// Marker positions in a real stream are in the framing table of the
// transport; here only what a socket cannot be made to do.
TEST(ReadBufferTest, SkipPastAcrossOneByteReadsAndEveryWayAReadEnds) {
  SlicedStream split{"xyz\x01\x02MA\x01\x02MARK\x03" "after", 1};
  ReadBuffer splitReader(split.AsFill());
  ASSERT_TRUE(splitReader.SkipPast("\x01\x02MARK\x03", 7, [] { return true; }));
  char out[8];
  ASSERT_TRUE(splitReader.Read(out, 5));
  EXPECT_EQ("after", std::string(out, 5));

  SlicedStream shortStream{"12345", 2};
  EXPECT_FALSE(ReadBuffer(shortStream.AsFill()).Read(out, 8)) << "ends inside a read";
  SlicedStream junk{std::string(1000, 'j') + "MARK", 100};
  EXPECT_FALSE(ReadBuffer(junk.AsFill()).SkipPast("MARX", 4, [] { return true; }))
      << "no marker before the end";
  junk.pos = junk.reads = 0;
  int asked = 0;
  EXPECT_FALSE(ReadBuffer(junk.AsFill()).SkipPast("MARK", 4, [&asked] { return ++asked < 3; }));
  EXPECT_EQ(3u, junk.reads) << "a stop ends the search before the next read";

  SlicedStream digits{"0123456789", 4};
  ReadBuffer reader(digits.AsFill());
  ASSERT_TRUE(reader.Skip(3));
  ASSERT_TRUE(reader.Read(out, 2));
  EXPECT_EQ("34", std::string(out, 2));
  reader.Reset();
  EXPECT_EQ(0u, reader.Buffered());
  ASSERT_TRUE(reader.Read(out, 2));
  EXPECT_EQ("89", std::string(out, 2)) << "what was buffered is gone";
}

}  // namespace
}  // namespace quorvel
