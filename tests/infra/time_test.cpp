#include "infra/time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

long long WallUnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(TimeTest, StampsHaveTheirFixedShapes) {
  const std::string local = GetLocalTimeStamp();
  EXPECT_EQ(23u, local.size()) << local;
  EXPECT_TRUE(std::regex_match(local, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3})")))
      << local;
  const std::string file = GetFileTimeStamp();
  EXPECT_EQ(15u, file.size()) << file;
  EXPECT_TRUE(std::regex_match(file, std::regex(R"(\d{8}_\d{6})"))) << file;
}

TEST(TimeTest, UnixMillisecondsAndFileTimeFollowTheWallClock) {
  const long long before = WallUnixMs();
  const std::uint64_t unixMs = GetUnixTimeMs();
  const std::uint64_t fileTime = GetSystemFileTime();
  const long long after = WallUnixMs();
  EXPECT_GE(static_cast<long long>(unixMs), before);
  EXPECT_LE(static_cast<long long>(unixMs), after);
  // 1601 to 1970 is 11,644,473,600 s; the steady line starts on the wall
  // clock, so without a clock step it stays within a little of it.
  const long long fileAsUnixMs = static_cast<long long>(fileTime / 10000) - 11644473600000LL;
  EXPECT_LT(std::llabs(fileAsUnixMs - before), 2000);
}

TEST(TimeTest, ElapsedMillisecondsCountFromTheStoredTime) {
  CTime time;
  EXPECT_LT(time.GetElapsedMs(), 1000u);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));  // the interval being measured
  const std::uint32_t elapsed = time.GetElapsedMs();
  EXPECT_GE(elapsed, 120u);
  EXPECT_LT(elapsed, 2120u);
  time.SetNow();
  EXPECT_LT(time.GetElapsedMs(), 120u);
}

TEST(TimeTest, ElapsedSinceAFileTime) {
  struct Case {
    const char* name;
    long long offsetMs;  // of the given time relative to now
    std::uint32_t atLeast;
    std::uint32_t below;
  };
  const Case cases[] = {
      {"in the future gives 0", 60000, 0, 1},
      {"now gives about 0", 0, 0, 1000},
      {"half a second ago", -500, 500, 2500},
      {"an hour ago", -3600000, 3600000, 3602000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint64_t given =
        GetSystemFileTime() + static_cast<std::uint64_t>(c.offsetMs * 10000LL);
    const std::uint32_t elapsed = GetElapsedMsSince(given);
    EXPECT_GE(elapsed, c.atLeast);
    EXPECT_LT(elapsed, c.below);
  }
}

TEST(TimeTest, CTimeIsSafeToShareBetweenThreads) {
  CTime time;
  std::atomic<bool> done{false};
  std::thread writer([&]() {
    for (int i = 0; i < 2000; ++i) time.SetNow();
    done = true;
  });
  std::uint32_t largest = 0;
  while (!done.load()) largest = std::max(largest, time.GetElapsedMs());
  writer.join();
  EXPECT_LT(largest, 10000u);
}

}  // namespace
}  // namespace quorvel
