#include "session/reply_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "infra/event.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(ReplyWaitTest, OutcomesWithAndWithoutAbort) {
  struct Case {
    const char* label;
    bool replySet;
    bool useAbort;
    bool abortSet;
    ReplyWait expected;
  };
  const Case cases[] = {
      {"reply already there, no abort", true, false, false, ReplyWait::kReplied},
      {"reply already there wins over a set abort", true, true, true, ReplyWait::kReplied},
      {"no reply, no abort", false, false, false, ReplyWait::kTimedOut},
      {"no reply, abort not set", false, true, false, ReplyWait::kTimedOut},
      {"no reply, abort set", false, true, true, ReplyWait::kAborted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CManualEvent reply;
    CManualEvent abort;
    if (c.replySet) reply.Set();
    if (c.abortSet) abort.Set();
    const auto start = Clock::now();
    EXPECT_EQ(WaitForReply(reply, 150, c.useAbort ? &abort : nullptr), c.expected);
    const long long elapsed = MsSince(start);
    if (c.expected == ReplyWait::kTimedOut) {
      EXPECT_GE(elapsed, 140);
    } else {
      EXPECT_LT(elapsed, 100);
    }
    EXPECT_LT(elapsed, 2000);
  }
}

TEST(ReplyWaitTest, AbortSignalledDuringTheWaitEndsItEarly) {
  CManualEvent reply;
  CManualEvent abort;
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    abort.Set();
  });
  const auto start = Clock::now();
  EXPECT_EQ(WaitForReply(reply, 10000, &abort), ReplyWait::kAborted);
  EXPECT_LT(MsSince(start), 5000);
  closer.join();
}

}  // namespace
}  // namespace quorvel
