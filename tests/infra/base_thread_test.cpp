#include "infra/base_thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "infra/event.h"
#include "infra/test_support.h"

namespace quorvel {
namespace {

using testing_support::ElapsedMs;
using testing_support::WaitUntil;
using Clock = std::chrono::steady_clock;

// Runs a test-provided body as its ThreadFunction.
class BodyThread : public CBaseThread {
 public:
  using Body = std::function<void(BodyThread&)>;
  explicit BodyThread(Body body) : m_body(std::move(body)) {}
  ~BodyThread() override { Stop(5000); }

  using CBaseThread::IsStopSignalled;
  using CBaseThread::WaitForStop;

 protected:
  void ThreadFunction() override { m_body(*this); }

 private:
  Body m_body;
};

void WaitForStopBody(BodyThread& self) { self.WaitForStop(kInfinite); }

TEST(BaseThreadTest, StopOfANeverStartedThreadReturnsTrueAtOnce) {
  BodyThread thread(WaitForStopBody);
  const auto start = Clock::now();
  EXPECT_TRUE(thread.Stop(5000));
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_FALSE(thread.IsRunning());
}

TEST(BaseThreadTest, StartOnARunningThreadFailsAndKeepsTheName) {
  BodyThread thread(WaitForStopBody);
  ASSERT_TRUE(thread.Start("first"));
  EXPECT_FALSE(thread.Start("second"));
  EXPECT_EQ("first", thread.GetName());
  EXPECT_TRUE(thread.IsRunning());
  EXPECT_TRUE(thread.Stop(5000));
  EXPECT_FALSE(thread.IsRunning());
}

// The OS shows the thread under its name, cut to what Linux keeps.
TEST(BaseThreadTest, TheOsKnowsTheThreadByItsName) {
  std::string seen;
  CEvent named(false);
  BodyThread thread([&](BodyThread& self) {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    seen = name;
    named.Set();
    self.WaitForStop(kInfinite);
  });
  ASSERT_TRUE(thread.Start("Message Receiver thread"));
  ASSERT_TRUE(named.Wait(5000));
  EXPECT_EQ("Message Receive", seen);
  EXPECT_TRUE(thread.Stop(5000));
}

TEST(BaseThreadTest, StartAfterTheThreadEndedByItselfStartsAFreshThreadUnderTheNewName) {
  std::atomic<int> runs{0};
  CEvent ran(false);
  BodyThread thread([&](BodyThread&) {
    ++runs;
    ran.Set();
  });
  ASSERT_TRUE(thread.Start("first"));
  ASSERT_TRUE(ran.Wait(10000));
  ASSERT_TRUE(WaitUntil([&] { return !thread.IsRunning(); }, 10000));

  ASSERT_TRUE(thread.Start("second"));
  EXPECT_EQ("second", thread.GetName());
  ASSERT_TRUE(ran.Wait(10000));
  EXPECT_EQ(2, runs.load());
  EXPECT_TRUE(thread.Stop(5000));
}

TEST(BaseThreadTest, StartAfterStopResetsTheStopEvent) {
  std::atomic<bool> stopSeenAtEntry{true};
  CEvent entered(false);
  BodyThread thread([&](BodyThread& self) {
    stopSeenAtEntry = self.IsStopSignalled();
    entered.Set();
    self.WaitForStop(kInfinite);
  });
  ASSERT_TRUE(thread.Start("run"));
  ASSERT_TRUE(entered.Wait(10000));
  ASSERT_TRUE(thread.Stop(5000));
  ASSERT_TRUE(thread.Start("run"));
  ASSERT_TRUE(entered.Wait(10000));
  EXPECT_FALSE(stopSeenAtEntry.load());
  EXPECT_TRUE(thread.Stop(5000));
}

TEST(BaseThreadTest, StopFromInsideTheThreadReturnsFalseAndLeavesTheStopSignalled) {
  std::atomic<bool> insideResult{true};
  std::atomic<bool> insideIsCurrent{false};
  std::atomic<bool> stopSignalledAfter{false};
  CEvent done(false);
  BodyThread thread([&](BodyThread& self) {
    insideIsCurrent = self.IsCurrentThread();
    insideResult = self.Stop(5000);
    stopSignalledAfter = self.IsStopSignalled();
    done.Set();
  });
  ASSERT_TRUE(thread.Start("self-stopper"));
  ASSERT_TRUE(done.Wait(10000));
  EXPECT_TRUE(insideIsCurrent.load());
  EXPECT_FALSE(thread.IsCurrentThread());
  EXPECT_FALSE(insideResult.load());
  EXPECT_TRUE(stopSignalledAfter.load());
  EXPECT_TRUE(thread.Stop(5000)) << "the owner's Stop still cleans up";
  EXPECT_FALSE(thread.IsRunning());
}

TEST(BaseThreadTest, DestructorStopsAWaitingThread) {
  std::atomic<bool> ended{false};
  const auto start = Clock::now();
  {
    BodyThread thread([&](BodyThread& self) {
      self.WaitForStop(kInfinite);
      ended = true;
    });
    ASSERT_TRUE(thread.Start("waiter"));
  }
  EXPECT_TRUE(ended.load()) << "the destructor joined the thread";
  EXPECT_LT(ElapsedMs(start), 2000);
}

// A thread that never looks at its stop event. Once running it touches only
// the state it shares through its own reference, so it can outlive the
// object that started it.
struct StubbornState {
  CManualEvent started;
  CManualEvent release;
  CManualEvent ended;
};

class StubbornThread : public CBaseThread {
 public:
  explicit StubbornThread(std::shared_ptr<StubbornState> state) : m_state(std::move(state)) {}

 protected:
  void ThreadFunction() override {
    std::shared_ptr<StubbornState> state = m_state;
    state->started.Set();
    state->release.Wait(kInfinite);
    state->ended.Set();
  }

 private:
  std::shared_ptr<StubbornState> m_state;
};

TEST(BaseThreadTest, StopOfAThreadThatIgnoresItReturnsByTheTimeoutAndTheObjectCanGo) {
  auto state = std::make_shared<StubbornState>();
  auto thread = std::make_unique<StubbornThread>(state);
  ASSERT_TRUE(thread->Start("stubborn"));
  ASSERT_TRUE(state->started.Wait(10000));

  constexpr std::uint32_t kTimeoutMs = 300;
  const auto start = Clock::now();
  EXPECT_TRUE(thread->Stop(kTimeoutMs));
  const long long elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, kTimeoutMs);
  EXPECT_LT(elapsed, kTimeoutMs + 2000);
  EXPECT_FALSE(thread->IsRunning()) << "the object has let the thread go";

  const auto destroyStart = Clock::now();
  thread.reset();
  EXPECT_LT(ElapsedMs(destroyStart), 1000) << "no second wait in the destructor";

  // The detached thread still runs on its own and ends when released.
  EXPECT_FALSE(state->ended.Wait(0));
  state->release.Set();
  EXPECT_TRUE(state->ended.Wait(10000));
}

}  // namespace
}  // namespace quorvel
