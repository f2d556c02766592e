// The server-message layout the simulator writes, whole and in the pieces
// its faults send alone, against hand-written bytes.
#include "request_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace strevon {
namespace sim {
namespace {

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(RequestCodecTest, ServerMessageLayoutWithAndWithoutMarker) {
  const std::string header = "Response: ping\r\n\r\n";
  const std::string h18("\x12\x00\x00\x00", 4);
  for (const bool marker : {true, false}) {
    SCOPED_TRACE(marker ? "marker" : "no marker");
    const std::string m = marker ? std::string("\x07\x00\x00\x00Message\x00\x00\x00\x00", 15) : "";
    EXPECT_EQ(m + std::string("\x00\x00\x10\x00", 4), Text(EncodeLengthPrefix(0x100000, marker)));
    EXPECT_EQ(m + h18 + header + std::string("\x00\x00\x10\x00", 4), Text(EncodeMessageHead(header, 0x100000, marker)));
    EXPECT_EQ(m + h18 + header + std::string("\x03\x00\x00\x00", 4) + "abc",
              Text(EncodeServerMessage({{"Response", "ping"}}, std::string("abc"), marker)));
  }
}

}  // namespace
}  // namespace sim
}  // namespace strevon
