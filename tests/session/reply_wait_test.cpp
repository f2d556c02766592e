#include "session/reply_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "infra/event.h"
#include "support/wait.h"

namespace quorvel {
namespace {

// How a request's wait for its reply ends: the reply, the time-out, or the
// driver closing (the abort event), set before or during the wait.
TEST(ReplyWaitTest, OutcomesOfTheWaitForAReply) {
  enum Set { kNothing, kReply, kAbort, kBoth };
  struct Case {
    const char* label;
    bool useAbort;
    Set before, during;  // during: from another thread once the wait runs
    std::uint32_t timeoutMs;
    ReplyWait expected;
  };
  const Case cases[] = {
      {"reply there, no abort", false, kReply, kNothing, 150, ReplyWait::kReplied},
      {"reply there wins over a set abort", true, kBoth, kNothing, 150, ReplyWait::kReplied},
      {"no reply, no abort", false, kNothing, kNothing, 150, ReplyWait::kTimedOut},
      {"abort set before", true, kAbort, kNothing, 10000, ReplyWait::kAborted},
      {"close during the wait", true, kNothing, kAbort, 10000, ReplyWait::kAborted},
      {"reply during the wait", true, kNothing, kReply, 10000, ReplyWait::kReplied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CManualEvent reply, abort;
    if (c.before == kReply || c.before == kBoth) reply.Set();
    if (c.before == kAbort || c.before == kBoth) abort.Set();
    std::atomic<bool> waiting{false};
    std::thread other([&] {
      if (c.during == kNothing) return;
      ASSERT_TRUE(test_support::WaitUntil([&] { return waiting.load(); }));
      (c.during == kReply ? reply : abort).Set();
    });
    const auto start = std::chrono::steady_clock::now();
    waiting = true;
    EXPECT_EQ(WaitForReply(reply, c.timeoutMs, c.useAbort ? &abort : nullptr), c.expected);
    const long long elapsed = test_support::ElapsedMs(start);
    other.join();
    EXPECT_GE(elapsed, c.expected == ReplyWait::kTimedOut ? 140 : 0);
    EXPECT_LT(elapsed, 5000);
  }
}

}  // namespace
}  // namespace quorvel
