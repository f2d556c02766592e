#include "infra/call_tracker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// The owner frees a target as soon as WaitIdle returned, so the wait must
// hold until the call on the other thread has left, and only for that key;
// also when so many calls run that the call is kept beyond the slots.
TEST(CallTrackerTest, WaitIdleBlocksUntilTheOtherThreadLeavesThatKey) {
  for (const int earlierCalls : {0, 4}) {
    SCOPED_TRACE(earlierCalls);
    CCallTracker tracker;
    int target = 0, other = 0, earlier[4] = {};
    std::promise<void> entered, release;
    std::atomic<bool> left{false};
    auto caller = std::async(std::launch::async, [&] {
      for (int i = 0; i < earlierCalls; ++i) tracker.Enter(&earlier[i]);
      tracker.Enter(&target);
      entered.set_value();
      release.get_future().wait();
      left = true;
      tracker.Leave(&target);
    });
    entered.get_future().wait();
    tracker.WaitIdle(&other);  // no call into this key: returns at once
    auto wait = std::async(std::launch::async, [&] {
      tracker.WaitIdle(&target);
      return left.load();
    });
    EXPECT_EQ(wait.wait_for(100ms), std::future_status::timeout);
    release.set_value();
    ASSERT_EQ(wait.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(wait.get()) << "WaitIdle returned while the call was still running";
  }
}

// A target removed from inside a call into it waits on the calling thread,
// which must not wait for itself; a call that ends by an exception leaves
// no mark behind.
TEST(CallTrackerTest, OwnThreadIsNotWaitedForAndScopeLeavesOnException) {
  CCallTracker tracker;
  int target = 0;
  auto done = std::async(std::launch::async, [&] {
    tracker.Enter(&target);
    CCallTracker::Scope scope(tracker, &target);
    tracker.WaitIdle(&target);
    throw std::runtime_error("consumer failed");
  });
  ASSERT_EQ(done.wait_for(10s), std::future_status::ready) << "waited on its own call";
  EXPECT_THROW(done.get(), std::runtime_error);
  auto wait = std::async(std::launch::async, [&] { tracker.WaitIdle(&target); });
  EXPECT_EQ(wait.wait_for(10s), std::future_status::ready) << "a mark was left behind";
}

}  // namespace
}  // namespace quorvel
