#include "infra/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "infra/platform/waitable_event.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using namespace test_support;

// A Set that comes before a waiter blocks is consumed the same way, so the
// counts hold whatever the order.
TEST(EventTest, AutoResetSetReleasesExactlyOneWaitManualReleasesAllAndStaysSet) {
  for (bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual reset" : "auto reset");
    CEvent event(manual);
    ASSERT_TRUE(event.IsValid());
    EXPECT_FALSE(event.Wait(0)) << "created unsignalled";
    EXPECT_TRUE(event.Set() && event.Wait(0));
    EXPECT_EQ(manual, event.Wait(0));
    EXPECT_TRUE(event.Reset());
    EXPECT_FALSE(event.Wait(0)) << "Reset clears a pending signal";

    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { released += event.Wait(20000) ? 1 : 0; });
    event.Set();
    ASSERT_TRUE(WaitUntil([&] { return released.load() == (manual ? 3 : 1); }, 5000));
    if (!manual) {
      EXPECT_FALSE(WaitUntil([&] { return released.load() > 1; }, 200))
          << "a single Set released more than one waiter";
      EXPECT_TRUE(event.Set() && event.Set());
      ASSERT_TRUE(WaitUntil([&] { return released.load() == 3; }, 5000));
    }
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(manual, event.Wait(0)) << "auto reset: every Set went to a waiter";
  }
}

TEST(EventTest, WaitsEndAfterTheirTimeout) {
  platform::WaitableEvent first(false), second(true);
  for (bool either : {false, true}) {
    SCOPED_TRACE(either ? "either of two" : "one event");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, either ? platform::WaitableEvent::WaitForEither(first, second, 100)
                         : (first.Wait(100) ? 0 : -1));
    EXPECT_GE(ElapsedMs(start), 100);
    EXPECT_LT(ElapsedMs(start), 2100);
  }
}

TEST(EventTest, WaitForEitherReportsWhichFiredAndConsumesOnlyThat) {
  struct Case { const char* name; bool setFirst, setSecond, secondFromThread, nullSecond;
                int expected; bool firstLeft, secondLeft; };
  const Case cases[] = {
      {"first only", true, false, false, false, 0, false, false},
      {"second only", false, true, false, false, 1, false, false},
      {"both: the first wins, the second keeps its signal", true, true, false, false, 0, false, true},
      {"set from another thread, before or during the wait", false, true, true, false, 1, false, false},
      {"null argument consumes nothing", true, false, false, true, -1, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CEvent first(false), second(false);
    if (c.setFirst) first.Set();
    if (c.setSecond && !c.secondFromThread) second.Set();
    std::thread setter([&] { if (c.secondFromThread) second.Set(); });
    CEvent* events[2] = {&first, c.nullSecond ? nullptr : &second};
    EXPECT_EQ(c.expected, CEvent::WaitForEither(events));
    setter.join();
    EXPECT_EQ(c.firstLeft, first.Wait(0));
    EXPECT_EQ(c.secondLeft, second.Wait(0));
  }
  EXPECT_EQ(-1, CEvent::WaitForEither(nullptr));
}

// Every Set of an auto-reset event must reach exactly one waiter, also when
// a two-event wait times out at the moment the Set arrives and a single
// waiter competes for the same event.
TEST(WaitableEventTest, NoSignalIsLostOrTakenTwiceUnderRacingTimeouts) {
  platform::WaitableEvent a(false), b(false), ack(false);
  std::atomic<bool> done{false};
  std::atomic<int> takenByEither{0}, takenByEitherFromA{0}, takenBySingle{0};
  std::thread either([&] {
    while (!done.load()) {
      const int fired = platform::WaitableEvent::WaitForEither(a, b, 1);
      if (fired < 0) continue;
      ++takenByEither;
      if (fired == 0) ++takenByEitherFromA;
      ack.Set();
    }
  });
  std::thread single([&] {
    while (!done.load()) {
      if (!b.Wait(1)) continue;
      ++takenBySingle;
      ack.Set();
    }
  });
  constexpr int kRounds = 2000;
  int setsOfA = 0;
  std::mt19937 random(12345);
  bool lost = false;
  for (int i = 0; i < kRounds && !lost; ++i) {
    if (random() % 2 == 0) {
      ++setsOfA;
      a.Set();
    } else {
      b.Set();
    }
    lost = !ack.Wait(10000);
  }
  done.store(true);
  either.join();
  single.join();
  ASSERT_FALSE(lost) << "a Set reached no waiter";
  EXPECT_EQ(kRounds, takenByEither.load() + takenBySingle.load());
  EXPECT_EQ(setsOfA, takenByEitherFromA.load());
  EXPECT_FALSE(ack.Wait(0)) << "a Set was taken twice";
}

}  // namespace
}  // namespace quorvel
