#include "gateway/read_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace quorvel {
namespace {

// A stream that hands out its bytes in scripted slices (the last slice size
// repeats) and records every read asked of it.
class ScriptedStream {
 public:
  ScriptedStream(std::string bytes, std::vector<std::size_t> slices)
      : m_bytes(std::move(bytes)), m_slices(std::move(slices)) {}

  ReadBuffer::Fill AsFill() {
    return [this](char* destination, std::size_t size) {
      reads.push_back({destination, size});
      const std::size_t slice = m_slices[std::min(m_next++, m_slices.size() - 1)];
      const std::size_t n = std::min({size, slice, m_bytes.size() - m_pos});
      std::memcpy(destination, m_bytes.data() + m_pos, n);
      m_pos += n;
      return n;
    };
  }

  struct Read {
    char* destination;
    std::size_t size;
  };
  std::vector<Read> reads;

 private:
  std::string m_bytes;
  std::vector<std::size_t> m_slices;
  std::size_t m_next = 0;
  std::size_t m_pos = 0;
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7) % 26);
  return bytes;
}

// Reads of every size come out whole and in order, however the stream
// slices them.
TEST(ReadBufferTest, ReadsAreExactAcrossSlices) {
  const std::vector<std::size_t> pieces = {4, 1, 30, 4, 200000, 4, 70000, 3, 16384, 5};
  std::size_t total = 0;
  for (std::size_t p : pieces) total += p;
  const std::string bytes = Pattern(total);
  for (const std::vector<std::size_t>& slices :
       std::vector<std::vector<std::size_t>>{{1}, {7}, {4096}, {65536}, {1000000}, {3, 100000}}) {
    SCOPED_TRACE(slices.front());
    ScriptedStream stream(bytes, slices);
    ReadBuffer reader(stream.AsFill());
    std::size_t pos = 0;
    for (std::size_t p : pieces) {
      std::string out(p, '\0');
      ASSERT_TRUE(reader.Read(out.data(), p));
      ASSERT_EQ(bytes.substr(pos, p), out);
      pos += p;
    }
    char extra;
    EXPECT_FALSE(reader.Read(&extra, 1));  // the stream is at its end
  }
}

// Small pieces share one read from the stream; a large body left over goes
// straight into its destination.
TEST(ReadBufferTest, SmallReadsShareOneFillLargeOnesBypassTheBuffer) {
  const std::size_t body = 300000;
  const std::string bytes = Pattern(4 + 40 + 4 + body);
  ScriptedStream stream(bytes, {1 << 20});
  ReadBuffer reader(stream.AsFill());
  char length[4];
  std::string header(40, '\0');
  ASSERT_TRUE(reader.Read(length, 4));
  ASSERT_TRUE(reader.Read(header.data(), header.size()));
  ASSERT_TRUE(reader.Read(length, 4));
  EXPECT_EQ(1u, stream.reads.size());

  std::string out(body, '\0');
  ASSERT_TRUE(reader.Read(out.data(), body));
  EXPECT_EQ(bytes.substr(48), out);
  ASSERT_EQ(2u, stream.reads.size());
  const std::size_t fromBuffer = ReadBuffer::kCapacity - 48;
  EXPECT_EQ(out.data() + fromBuffer, stream.reads[1].destination);
  EXPECT_EQ(body - fromBuffer, stream.reads[1].size);
}

TEST(ReadBufferTest, SkipPastFindsTheMarkerWhereverItFalls) {
  const std::string marker = "\x01\x02MARK\x03";
  struct Case {
    const char* name;
    std::string before;
    std::size_t slice;
  };
  const Case cases[] = {
      {"at once", "", 1000},
      {"after junk", "junkjunk", 1000},
      {"after a false start", "\x01\x02MAR\x01\x02MA", 1000},
      {"split over one-byte reads", "xyz\x01\x02MA", 1},
      {"straddling the buffer's end", std::string(ReadBuffer::kCapacity - 3, 'j'), 70000},
      {"after more than a buffer of junk", std::string(3 * ReadBuffer::kCapacity + 11, '\x01'), 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedStream stream(c.before + marker + "after", {c.slice});
    ReadBuffer reader(stream.AsFill());
    ASSERT_TRUE(reader.SkipPast(marker.data(), marker.size(), [] { return true; }));
    char out[5];
    ASSERT_TRUE(reader.Read(out, 5));
    EXPECT_EQ("after", std::string(out, 5));
  }
}

TEST(ReadBufferTest, FailuresAndStopsEndTheRead) {
  {
    SCOPED_TRACE("stream ends inside a read");
    ScriptedStream stream("12345", {2});
    ReadBuffer reader(stream.AsFill());
    char out[8];
    EXPECT_FALSE(reader.Read(out, 8));
  }
  {
    SCOPED_TRACE("no marker before the end");
    ScriptedStream stream(std::string(1000, 'j'), {100});
    ReadBuffer reader(stream.AsFill());
    EXPECT_FALSE(reader.SkipPast("MARK", 4, [] { return true; }));
  }
  {
    SCOPED_TRACE("a stop ends the search before the next read");
    ScriptedStream stream(std::string(1000, 'j') + "MARK", {100});
    ReadBuffer reader(stream.AsFill());
    int asked = 0;
    EXPECT_FALSE(reader.SkipPast("MARK", 4, [&asked] { return ++asked < 3; }));
    EXPECT_EQ(3u, stream.reads.size());
  }
  {
    SCOPED_TRACE("skip and reset");
    ScriptedStream stream("0123456789", {4});
    ReadBuffer reader(stream.AsFill());
    ASSERT_TRUE(reader.Skip(3));
    char out[2];
    ASSERT_TRUE(reader.Read(out, 2));
    EXPECT_EQ("34", std::string(out, 2));
    reader.Reset();
    EXPECT_EQ(0u, reader.Buffered());
    ASSERT_TRUE(reader.Read(out, 2));
    EXPECT_EQ("89", std::string(out, 2));  // what was buffered is gone
  }
}

}  // namespace
}  // namespace quorvel
