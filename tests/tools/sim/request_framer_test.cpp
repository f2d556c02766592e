// How the simulator cuts a client's byte stream into requests, however the
// reads split it.
#include "request_framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace strevon {
namespace sim {
namespace {

std::string Le32(std::uint32_t n) {
  return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
}
std::string Frame(const std::string& text) { return Le32(static_cast<std::uint32_t>(text.size())) + text; }

TEST(RequestFramerTest, YieldsWholeRequestsAndStopsAtAnOverlongLength) {
  constexpr std::uint32_t kMax = RequestFramer::kMaxRequestLength;
  const struct {
    const char* name;
    std::string input;
    std::size_t chunk;  // bytes per Append
    std::vector<std::string> requests;
    std::uint32_t too_long;  // 0 = none
  } kCases[] = {
      {"SplitAnywhere", Frame("ping") + Frame("user/profile?name=a%20b"), 1, {"ping", "user/profile?name=a%20b"}, 0},
      {"EmptyFramesSkipped", Le32(0) + Frame("a") + Le32(0), 64, {"a"}, 0},
      {"LargestLengthWaitsForItsBytes", Frame("a") + Le32(kMax) + "xyz", 64, {"a"}, 0},
      {"PastTheLargestStopsTheStream", Frame("a") + Le32(kMax + 1) + Frame("b"), 3, {"a"}, kMax + 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RequestFramer framer;
    std::vector<std::string> got;
    RequestFramer::Result result = RequestFramer::Result::kNeedMore;
    for (std::size_t pos = 0; pos < c.input.size() && result != RequestFramer::Result::kTooLong; pos += c.chunk) {
      framer.Append(c.input.data() + pos, std::min(c.chunk, c.input.size() - pos));
      ParsedRequest request;
      while ((result = framer.Next(&request)) == RequestFramer::Result::kRequest) got.push_back(request.raw_text);
    }
    EXPECT_EQ(c.requests, got);
    EXPECT_EQ(c.too_long != 0, result == RequestFramer::Result::kTooLong);
    EXPECT_EQ(c.too_long, framer.TooLongLength());
  }
}

}  // namespace
}  // namespace sim
}  // namespace strevon
