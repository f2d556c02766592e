#include "infra/mutex.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "infra/event.h"
#include "infra/spawn_helper.h"
#include "infra/test_support.h"

namespace quorvel {
namespace {

using testing_support::ElapsedMs;
using testing_support::TempHome;
using Clock = std::chrono::steady_clock;

TEST(MutexTest, ExcludesThreadsWithOwnAndSharedObjects) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  CMutex shared("MUTEX_Exclusion");
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::atomic<int> failedLocks{0};
  auto worker = [&](bool ownObject) {
    CMutex own("MUTEX_Exclusion");
    CMutex& mutex = ownObject ? own : shared;
    for (int i = 0; i < 100; ++i) {
      if (!mutex.Lock()) {
        ++failedLocks;
        continue;
      }
      if (inside.fetch_add(1) != 0) overlapped = true;
      std::this_thread::yield();
      inside.fetch_sub(1);
      mutex.Unlock();
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(worker, t % 2 == 0);
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(overlapped.load());
  EXPECT_EQ(0, failedLocks.load());
}

TEST(MutexTest, LockGivesUpAfterFiveSecondsWhileAnotherHoldsIt) {
  TempHome home;
  CMutex holder("MUTEX_Held");
  ASSERT_TRUE(holder.Lock());
  std::atomic<bool> result{true};
  std::atomic<long long> elapsed{0};
  std::thread contender([&]() {
    CMutex other("MUTEX_Held");
    const auto start = Clock::now();
    result = other.Lock();
    elapsed = ElapsedMs(start);
  });
  contender.join();
  holder.Unlock();
  EXPECT_FALSE(result.load());
  EXPECT_GE(elapsed.load(), 5000);
  EXPECT_LT(elapsed.load(), 10000);
}

TEST(MutexTest, WaitingLockGetsTheMutexWhenTheHolderUnlocks) {
  TempHome home;
  CMutex holder("MUTEX_Handover");
  ASSERT_TRUE(holder.Lock());
  CManualEvent acquired;
  std::thread contender([&]() {
    CMutex other("MUTEX_Handover");
    if (other.Lock()) {
      acquired.Set();
      other.Unlock();
    }
  });
  EXPECT_FALSE(acquired.Wait(100));
  holder.Unlock();
  EXPECT_TRUE(acquired.Wait(4000)) << "handed over well within the 5000 ms";
  contender.join();
}

TEST(MutexTest, LockFailsWhenTheLockFileCannotBeMade) {
  TempHome home;
  setenv("STREVON_HOME", (home.Path() + "missing/dir").c_str(), 1);
  CMutex mutex("MUTEX_Nowhere");
  const auto start = Clock::now();
  EXPECT_FALSE(mutex.Lock());
  EXPECT_LT(ElapsedMs(start), 1000);
}

TEST(MutexTest, AProcessThatDiesHoldingTheMutexReleasesIt) {
  TempHome home;
  const pid_t child = testing_support::SpawnHelper({"hold-mutex-and-die"});
  ASSERT_GT(child, 0) << "helper missing: " << testing_support::HelperPath();
  ASSERT_EQ(0, testing_support::WaitForHelper(child, 20000));
  CMutex mutex("MUTEX_Strevon");
  const auto start = Clock::now();
  EXPECT_TRUE(mutex.Lock());
  EXPECT_LT(ElapsedMs(start), 1000);
  mutex.Unlock();
}

}  // namespace
}  // namespace quorvel
