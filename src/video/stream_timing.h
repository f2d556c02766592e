// The two times of stream recovery: how long a full-rate stream may deliver
// nothing before it counts as stalled (10000 ms), and how often the video
// manager's restart pass looks (4000 ms).
//
// STREVON_STALL_MS, when set to a number from 100 to 10000, replaces the
// stall time and shortens the pass in the same proportion. It exists for
// the tests, which would otherwise wait out ten seconds for every recovery
// case; a recorder never sets it. Read once per process.
#pragma once

#include <cstdint>

namespace quorvel {

struct StreamTiming {
  std::uint32_t stallMs;
  std::uint32_t restartPassMs;
};

const StreamTiming& GetStreamTiming();

}  // namespace quorvel
