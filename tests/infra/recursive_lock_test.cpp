#include "infra/recursive_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "infra/event.h"

namespace quorvel {
namespace {

TEST(RecursiveLockTest, OwnerMustLeaveAsOftenAsItEnteredBeforeAnotherThreadGetsIt) {
  CRecursiveLock lock;
  CManualEvent acquired;
  lock.Enter();
  lock.Enter();
  std::thread other([&]() {
    CLockGuard guard(lock);
    acquired.Set();
  });
  EXPECT_FALSE(acquired.Wait(100));
  lock.Leave();
  EXPECT_FALSE(acquired.Wait(100)) << "one Leave of two released the lock";
  lock.Leave();
  EXPECT_TRUE(acquired.Wait(10000));
  other.join();
}

TEST(RecursiveLockTest, GuardsASharedCounterUnderContention) {
  CRecursiveLock lock;
  long counter = 0;  // plain on purpose: only the lock protects it
  constexpr int kThreads = 4;
  constexpr int kIncrements = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&]() {
      for (int i = 0; i < kIncrements; ++i) {
        CLockGuard outer(lock);
        CLockGuard inner(&lock);
        ++counter;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(static_cast<long>(kThreads) * kIncrements, counter);
}

TEST(RecursiveLockTest, GuardReleasesWhenAnExceptionLeavesTheScope) {
  CRecursiveLock lock;
  try {
    CLockGuard guard(lock);
    throw 1;
  } catch (int) {
  }
  std::atomic<bool> gotIt{false};
  std::thread other([&]() {
    gotIt = lock.TryEnter();
    if (gotIt) lock.Leave();
  });
  other.join();
  EXPECT_TRUE(gotIt.load());
}

}  // namespace
}  // namespace quorvel
