#include "infra/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "infra/platform/waitable_event.h"
#include "infra/test_support.h"

namespace quorvel {
namespace {

using testing_support::ElapsedMs;
using testing_support::WaitUntil;
using Clock = std::chrono::steady_clock;

TEST(EventTest, AutoResetIsConsumedByOneWaitManualStaysSet) {
  struct Case {
    const char* name;
    bool manualReset;
    bool secondWaitSucceeds;
  };
  const Case cases[] = {{"auto reset", false, false}, {"manual reset", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CEvent event(c.manualReset);
    ASSERT_TRUE(event.IsValid());
    EXPECT_FALSE(event.Wait(0)) << "created unsignalled";
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_EQ(c.secondWaitSucceeds, event.Wait(0));
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Reset());
    EXPECT_FALSE(event.Wait(0)) << "Reset clears a pending signal";
  }
}

TEST(EventTest, OneSetOfAutoResetReleasesExactlyOneWaiter) {
  CEvent event(false);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&]() {
      if (event.Wait(20000)) ++released;
    });
  }
  // Give every waiter the chance to block first; a Set that came before a
  // waiter blocked would be consumed the same way, so the count holds either way.
  event.Set();
  ASSERT_TRUE(WaitUntil([&] { return released.load() == 1; }, 5000));
  EXPECT_FALSE(WaitUntil([&] { return released.load() > 1; }, 200))
      << "a single Set released more than one waiter";
  event.Set();
  event.Set();
  ASSERT_TRUE(WaitUntil([&] { return released.load() == 3; }, 5000));
  for (std::thread& t : waiters) t.join();
  EXPECT_FALSE(event.Wait(0)) << "each Set went to a waiter, none is left pending";
}

TEST(EventTest, ManualSetReleasesEveryWaiter) {
  CManualEvent event;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&]() {
      if (event.Wait(kInfinite)) ++released;
    });
  }
  event.Set();
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(4, released.load());
  EXPECT_TRUE(event.Wait(0));
}

TEST(EventTest, WaitTimesOutAfterItsTimeout) {
  CEvent event(false);
  const auto start = Clock::now();
  EXPECT_FALSE(event.Wait(100));
  const long long elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 100);
  EXPECT_LT(elapsed, 2100);
}

TEST(EventTest, WaitForEitherReportsWhichFired) {
  struct Case {
    const char* name;
    bool setFirst;
    bool setSecond;
    int expected;
  };
  const Case cases[] = {
      {"first only", true, false, 0},
      {"second only", false, true, 1},
      {"both: the first wins", true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CManualEvent stop;
    CEvent item(false);
    if (c.setFirst) stop.Set();
    if (c.setSecond) item.Set();
    CEvent* events[2] = {&stop, &item};
    EXPECT_EQ(c.expected, CEvent::WaitForEither(events));
  }
}

TEST(EventTest, WaitForEitherConsumesOnlyTheAutoResetSignalItReports) {
  CEvent first(false);
  CEvent second(false);
  first.Set();
  second.Set();
  CEvent* events[2] = {&first, &second};
  EXPECT_EQ(0, CEvent::WaitForEither(events));
  EXPECT_FALSE(first.Wait(0));
  EXPECT_TRUE(second.Wait(0)) << "the unreported event keeps its signal";
}

TEST(EventTest, WaitForEitherWakesForASetFromAnotherThread) {
  CManualEvent stop;
  CEvent item(false);
  CEvent* events[2] = {&stop, &item};
  std::thread setter([&]() { item.Set(); });
  // The set may come before or during the wait; both must report index 1.
  const int fired = CEvent::WaitForEither(events);
  setter.join();
  EXPECT_EQ(1, fired);
  EXPECT_FALSE(item.Wait(0));
}

TEST(EventTest, WaitForEitherTimesOutAfterOneSecond) {
  CManualEvent stop;
  CEvent item(false);
  CEvent* events[2] = {&stop, &item};
  const auto start = Clock::now();
  EXPECT_EQ(-1, CEvent::WaitForEither(events));
  const long long elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 3000);
}

TEST(EventTest, WaitForEitherRejectsNullArguments) {
  CEvent event(false);
  event.Set();
  CEvent* missingSecond[2] = {&event, nullptr};
  EXPECT_EQ(-1, CEvent::WaitForEither(nullptr));
  EXPECT_EQ(-1, CEvent::WaitForEither(missingSecond));
  EXPECT_TRUE(event.Wait(0)) << "a rejected wait consumes nothing";
}

// Every Set of an auto-reset event must reach exactly one waiter, also when
// a two-event wait times out at the moment the Set arrives and a single
// waiter competes for the same event.
TEST(WaitableEventTest, NoSignalIsLostOrTakenTwiceUnderRacingTimeouts) {
  platform::WaitableEvent a(false);
  platform::WaitableEvent b(false);
  platform::WaitableEvent ack(false);
  std::atomic<bool> done{false};
  std::atomic<int> takenByEither{0};
  std::atomic<int> takenByEitherFromA{0};
  std::atomic<int> takenBySingle{0};

  std::thread either([&]() {
    while (!done.load()) {
      const int fired = platform::WaitableEvent::WaitForEither(a, b, 1);
      if (fired < 0) continue;
      ++takenByEither;
      if (fired == 0) ++takenByEitherFromA;
      ack.Set();
    }
  });
  std::thread single([&]() {
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
