#include "infra/base_thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "infra/event.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using namespace test_support;
using Clock = std::chrono::steady_clock;

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

TEST(BaseThreadTest, StartWhileRunningFailsStartAfterStopRunsAFreshThread) {
  std::atomic<bool> stopSeenAtEntry{true};
  std::string osName;
  CEvent entered(false);
  BodyThread thread([&](BodyThread& self) {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    osName = name;
    stopSeenAtEntry = self.IsStopSignalled();
    entered.Set();
    self.WaitForStop(kInfinite);
  });
  const auto start = Clock::now();
  EXPECT_TRUE(thread.Stop(5000)) << "never started";
  EXPECT_LT(ElapsedMs(start), 1000);

  ASSERT_TRUE(thread.Start("Message Receiver thread"));
  ASSERT_TRUE(entered.Wait(10000));
  EXPECT_EQ("Message Receive", osName) << "the OS name, cut to what Linux keeps";
  EXPECT_FALSE(thread.Start("second"));
  EXPECT_EQ("Message Receiver thread", thread.GetName());
  EXPECT_TRUE(thread.IsRunning());
  ASSERT_TRUE(thread.Stop(5000));
  EXPECT_FALSE(thread.IsRunning());

  ASSERT_TRUE(thread.Start("again"));
  ASSERT_TRUE(entered.Wait(10000));
  EXPECT_FALSE(stopSeenAtEntry.load()) << "Start resets the stop event";
  EXPECT_EQ("again", thread.GetName());
}

// Stop from inside returns false and leaves the stop signalled; the owner's
// later Stop or destructor still cleans up.
TEST(BaseThreadTest, StopFromInsideFailsAndTheDestructorStopsAWaitingThread) {
  std::atomic<bool> insideResult{true}, insideIsCurrent{false}, ended{false};
  const auto start = Clock::now();
  {
    BodyThread thread([&](BodyThread& self) {
      insideIsCurrent = self.IsCurrentThread();
      insideResult = self.Stop(5000);
      self.WaitForStop(kInfinite);
      ended = true;
    });
    ASSERT_TRUE(thread.Start("self-stopper"));
    ASSERT_TRUE(WaitUntil([&] { return ended.load(); }, 10000)) << "its stop stayed signalled";
    EXPECT_TRUE(insideIsCurrent.load());
    EXPECT_FALSE(thread.IsCurrentThread());
    EXPECT_FALSE(insideResult.load());
  }
  EXPECT_LT(ElapsedMs(start), 2000) << "the destructor joined the thread";
}

// A thread that overstays its stop is kept: Start refuses until it ended.
// With a keep-alive it holds its owner, so the owner's last holder may go
// while the thread runs; the owner is then destroyed on the thread itself.
TEST(BaseThreadTest, AThreadThatOverstaysItsStopIsKeptAndKeepsItsOwnerAlive) {
  struct Owner {
    CManualEvent started, release;
    std::unique_ptr<BodyThread> thread;
  };
  auto owner = std::make_shared<Owner>();
  Owner* raw = owner.get();
  owner->thread = std::make_unique<BodyThread>([raw](BodyThread&) {
    raw->started.Set();
    raw->release.Wait(kInfinite);
  });
  owner->thread->SetKeepAlive(owner);
  ASSERT_TRUE(owner->thread->Start("stubborn"));
  ASSERT_TRUE(owner->started.Wait(10000));

  const auto start = Clock::now();
  EXPECT_FALSE(owner->thread->Stop(300));
  EXPECT_GE(ElapsedMs(start), 300);
  EXPECT_TRUE(owner->thread->IsRunning());
  EXPECT_FALSE(owner->thread->Start("second")) << "never two threads on one object";
  EXPECT_TRUE(owner->thread->IsStopSignalled()) << "the refused Start kept the stop";
  EXPECT_EQ(owner->thread->GetName(), "stubborn");

  std::weak_ptr<Owner> watch = owner;
  owner.reset();
  ASSERT_FALSE(watch.expired()) << "the running thread holds its owner";
  raw->release.Set();
  EXPECT_TRUE(WaitUntil([&] { return watch.expired(); }));
}

}  // namespace
}  // namespace quorvel
