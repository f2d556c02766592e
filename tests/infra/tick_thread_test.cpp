#include "infra/tick_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "infra/event.h"
#include "infra/test_support.h"

namespace quorvel {
namespace {

using testing_support::ElapsedMs;
using Clock = std::chrono::steady_clock;

class RecordingTicker : public CTickThread {
 public:
  ~RecordingTicker() override { Stop(5000); }

  std::vector<Clock::time_point> TickStarts() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_tickStarts;
  }

  CEvent ticked{false};
  std::atomic<int> workMs{0};
  std::atomic<bool> throwOnTick{false};

 protected:
  void OnTick() override {
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_tickStarts.push_back(Clock::now());
    }
    ticked.Set();
    // Simulated work: the next interval must start only after it.
    if (workMs.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(workMs.load()));
    if (throwOnTick.load()) throw std::runtime_error("tick failed");
  }

 private:
  std::mutex m_mutex;
  std::vector<Clock::time_point> m_tickStarts;
};

TEST(TickThreadTest, DefaultIntervalIsTwoSeconds) {
  RecordingTicker ticker;
  EXPECT_EQ(2000u, ticker.GetTickInterval());
}

TEST(TickThreadTest, FirstTickComesOneIntervalAfterStart) {
  RecordingTicker ticker;
  ticker.SetTickInterval(200);
  const auto start = Clock::now();
  ASSERT_TRUE(ticker.Start("ticker"));
  ASSERT_TRUE(ticker.ticked.Wait(10000));
  const auto ticks = ticker.TickStarts();
  ASSERT_FALSE(ticks.empty());
  const auto first =
      std::chrono::duration_cast<std::chrono::milliseconds>(ticks.front() - start).count();
  EXPECT_GE(first, 200);
  EXPECT_LT(first, 200 + 2000);
  EXPECT_TRUE(ticker.Stop(5000));
}

TEST(TickThreadTest, IntervalIsMeasuredFromTheEndOfTheTick) {
  RecordingTicker ticker;
  ticker.SetTickInterval(100);
  ticker.workMs = 150;
  ASSERT_TRUE(ticker.Start("slow ticker"));
  ASSERT_TRUE(testing_support::WaitUntil([&] { return ticker.TickStarts().size() >= 3; }, 10000));
  ASSERT_TRUE(ticker.Stop(5000));
  const auto ticks = ticker.TickStarts();
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    SCOPED_TRACE(i);
    const auto gap =
        std::chrono::duration_cast<std::chrono::milliseconds>(ticks[i] - ticks[i - 1]).count();
    EXPECT_GE(gap, 250) << "tick work plus one full interval";
  }
}

TEST(TickThreadTest, StopEndsTheWaitAtOnceWithoutATick) {
  RecordingTicker ticker;
  ticker.SetTickInterval(60000);
  ASSERT_TRUE(ticker.Start("idle ticker"));
  const auto start = Clock::now();
  EXPECT_TRUE(ticker.Stop(5000));
  EXPECT_LT(ElapsedMs(start), 2000);
  EXPECT_TRUE(ticker.TickStarts().empty());
}

TEST(TickThreadTest, ATickThatThrowsDoesNotEndTheThread) {
  RecordingTicker ticker;
  ticker.SetTickInterval(20);
  ticker.throwOnTick = true;
  ASSERT_TRUE(ticker.Start("throwing ticker"));
  ASSERT_TRUE(testing_support::WaitUntil([&] { return ticker.TickStarts().size() >= 3; }, 10000));
  EXPECT_TRUE(ticker.IsRunning());
  EXPECT_TRUE(ticker.Stop(5000));
}

}  // namespace
}  // namespace quorvel
