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

}  // namespace
}  // namespace quorvel
