#include "infra/time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace quorvel {
namespace {

// CTime is shared between threads: one thread stamps it while others read
// the time since the stamp, which never runs backwards into a huge value.
TEST(TimeTest, StampIsSharedBetweenThreadsAndElapsedTimeNeverGoesNegative) {
  CTime time;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) time.SetNow();
    done = true;
  });
  std::uint32_t largest = 0;
  while (!done.load()) largest = std::max(largest, time.GetElapsedMs());
  writer.join();
  EXPECT_LT(largest, 10000u);
  EXPECT_LE(time.GetTime(), GetSystemFileTime());
  // A time in the future counts as no time elapsed, not as 49 days.
  EXPECT_EQ(GetElapsedMsSince(GetSystemFileTime() + 600000000ULL), 0u);
  EXPECT_GE(GetElapsedMsSince(GetSystemFileTime() - 36000000000ULL), 3600000u);
}

// A frame's arrival is marked with the cheap clock and compared with the
// precise one: the mark is never ahead and lags by at most a tick. The
// first reading may come within a tick of the clocks' common anchor.
TEST(TimeTest, CoarseMarkNeverRunsAheadOfThePreciseClock) {
  for (int i = 0; i < 1000; ++i) {
    const std::uint64_t coarse = GetSystemFileTimeCoarse();
    const std::uint64_t precise = GetSystemFileTime();
    ASSERT_NE(coarse, 0u);
    ASSERT_LE(coarse, precise);
    ASSERT_LT(precise - coarse, 10000000u);  // one second, far above any tick
  }
}

}  // namespace
}  // namespace quorvel
