#include "gateway/read_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace quorvel {
namespace {

// Gives at most slice bytes per read, as a socket with that much waiting.
struct SlicedStream {
  std::string bytes;
  std::size_t slice, pos = 0, reads = 0;
  ReadBuffer::Fill AsFill() {
    return [this](char* first, std::size_t firstSize, char* second, std::size_t secondSize) {
      ++reads;
      const std::size_t n = std::min({firstSize + secondSize, slice, bytes.size() - pos});
      const std::size_t inFirst = std::min(n, firstSize);
      std::memcpy(first, bytes.data() + pos, inFirst);
      if (n > inFirst) std::memcpy(second, bytes.data() + pos + inFirst, n - inFirst);
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

// A large body is read straight into its storage, and the same call
// brings what follows it into the buffer, as far as the buffer holds it.
TEST(ReadBufferTest, LargeBodyAndTheNextHeadInOneRead) {
  const std::size_t body = 40000;
  std::string stream;
  for (std::size_t i = 0; i < body; ++i) stream += static_cast<char>('a' + i % 26);
  const std::string next = "HEAD" + std::string(ReadBuffer::kCapacity + 1000, 'n');
  const std::size_t all = body + next.size();
  struct Case { const char* name; std::size_t slice, streamSize; bool ok;
                std::size_t reads, buffered; };
  const Case cases[] = {
      {"the rest of the body and a full buffer", SIZE_MAX, all, true, 1, ReadBuffer::kCapacity},
      {"nothing after the body yet", SIZE_MAX, body, true, 1, 0},
      {"short reads go on, the last takes the head", 15000, all, true, 3, 5000},
      {"the stream ends inside the body", 15000, 30000, false, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SlicedStream s{(stream + next).substr(0, c.streamSize), c.slice};
    ReadBuffer reader(s.AsFill());
    std::string out(body, '\0');
    ASSERT_EQ(c.ok, reader.Read(&out[0], body));
    EXPECT_EQ(c.reads, s.reads);
    EXPECT_EQ(c.buffered, reader.Buffered());
    if (!c.ok) continue;
    EXPECT_EQ(stream, out);
    if (c.buffered == 0) continue;
    char head[4];
    ASSERT_TRUE(reader.Read(head, 4));
    EXPECT_EQ("HEAD", std::string(head, 4));
    EXPECT_EQ(c.reads, s.reads) << "the head came with the body";
  }
}

}  // namespace
}  // namespace quorvel
