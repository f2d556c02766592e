#include "infra/mutex.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "infra/event.h"
#include "infra/platform/named_mutex.h"
#include "support/process.h"
#include "support/temp_home.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using namespace test_support;
using Clock = std::chrono::steady_clock;

TEST(MutexTest, ExcludesThreadsWithOwnAndSharedObjects) {
  TempHome home;
  CMutex shared("MUTEX_Exclusion");
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  auto worker = [&](bool ownObject) {
    CMutex own("MUTEX_Exclusion");
    CMutex& mutex = ownObject ? own : shared;
    for (int i = 0; i < 100; ++i) {
      ASSERT_TRUE(mutex.Lock());
      if (inside.fetch_add(1) != 0) overlapped = true;
      std::this_thread::yield();
      inside.fetch_sub(1);
      mutex.Unlock();
    }
  };
  std::thread threads[] = {std::thread(worker, true), std::thread(worker, false),
                           std::thread(worker, true), std::thread(worker, false)};
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(overlapped.load());
}

// CMutex waits a fixed 5000 ms; the give-up itself is the platform lock's,
// checked here with a short time-out.
TEST(MutexTest, LockGivesUpAfterItsTimeoutWhileAnotherHoldsItAndGetsItOnUnlock) {
  TempHome home;
  CMutex holder("MUTEX_Held");
  ASSERT_TRUE(holder.Lock());
  std::thread([] {  // another thread: a Windows mutex lets its holder in again
    platform::NamedMutex other("MUTEX_Held");
    const auto start = Clock::now();
    EXPECT_FALSE(other.Lock(200));
    EXPECT_GE(ElapsedMs(start), 200);
    EXPECT_LT(ElapsedMs(start), 2200);
  }).join();

  CManualEvent acquired;
  std::thread contender([&] {
    CMutex waiting("MUTEX_Held");
    if (waiting.Lock()) {
      acquired.Set();
      waiting.Unlock();
    }
  });
  EXPECT_FALSE(acquired.Wait(100));
  holder.Unlock();
  EXPECT_TRUE(acquired.Wait(4000)) << "handed over well within the 5000 ms";
  contender.join();
}

#if !defined(_WIN32)  // a Windows mutex is a kernel object, not a file
TEST(MutexTest, LockFailsAtOnceWhenTheLockFileCannotBeMade) {
  TempHome home;
  SetEnvironment("STREVON_HOME", home.Path() + "missing/dir");
  CMutex mutex("MUTEX_Nowhere");
  const auto start = Clock::now();
  EXPECT_FALSE(mutex.Lock());
  EXPECT_LT(ElapsedMs(start), 1000);
}
#endif

TEST(MutexTest, AProcessThatDiesHoldingTheMutexReleasesIt) {
  TempHome home;
  const std::string helper = std::string(STREVON_TEST_BINARY_DIR) + "/log_writer_main";
  const ProcessResult result =
      RunProcess({helper, "hold-mutex-and-die"}, {}, std::chrono::seconds(20));
  ASSERT_EQ(0, result.exitCode) << helper << ": " << result.output;
  CMutex mutex("MUTEX_Strevon");
  const auto start = Clock::now();
  EXPECT_TRUE(mutex.Lock());
  EXPECT_LT(ElapsedMs(start), 1000);
  mutex.Unlock();
}

}  // namespace
}  // namespace quorvel
