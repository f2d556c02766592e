#include "infra/queue_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "infra/event.h"
#include "infra/test_support.h"
#include "infra/work_item.h"

namespace quorvel {
namespace {

using testing_support::WaitUntil;

// Counts live items so that every test can check who destroyed what.
struct Item {
  static std::atomic<int> live;
  explicit Item(int id_) : id(id_) { ++live; }
  virtual ~Item() { --live; }
  int id;
};
std::atomic<int> Item::live{0};

constexpr int kBlocker = -1;
constexpr int kThrower = -2;

class RecordingQueue : public CQueueThread<Item> {
 public:
  ~RecordingQueue() override {
    gate.Set();
    Stop();
  }

  std::vector<int> Handled() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_handled;
  }

  CManualEvent gate;             // the blocker item waits for it
  CManualEvent blockerEntered;   // set when the blocker is being handled
  std::atomic<int> postsFromHandler{0};

 protected:
  void HandleWorkItem(Item* item) override {
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_handled.push_back(item->id);
    }
    if (item->id == kBlocker) {
      blockerEntered.Set();
      gate.Wait(kInfinite);
    }
    if (item->id == kThrower) throw std::runtime_error("handler failed");
    if (postsFromHandler.load() > 0) {
      --postsFromHandler;
      PostItem(new Item(item->id + 1000));
    }
  }

 private:
  std::mutex m_mutex;
  std::vector<int> m_handled;
};

class QueueThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { Item::live = 0; }
  void TearDown() override { EXPECT_EQ(0, Item::live.load()) << "an item leaked"; }
};

TEST_F(QueueThreadTest, SeventeenLimitedPostsWhileBusyDropTheOldestAndHandleSixteenInOrder) {
  RecordingQueue queue;
  ASSERT_TRUE(queue.Start("ptz queue"));
  ASSERT_TRUE(queue.PostItem(new Item(kBlocker)));
  ASSERT_TRUE(queue.blockerEntered.Wait(10000));

  for (int id = 0; id < 17; ++id) ASSERT_TRUE(queue.PostItemLimited(new Item(id)));
  EXPECT_EQ(16u, queue.PendingCount());
  EXPECT_EQ(1 + 16, Item::live.load()) << "item 0 was destroyed at the 17th post";

  queue.gate.Set();
  ASSERT_TRUE(WaitUntil([&] { return Item::live.load() == 0; }, 10000));
  std::vector<int> expected = {kBlocker};
  for (int id = 1; id <= 16; ++id) expected.push_back(id);
  EXPECT_EQ(expected, queue.Handled());
  EXPECT_TRUE(queue.Stop());
}

TEST_F(QueueThreadTest, SeventeenLimitedPostsBeforeStartAreHandledOnceItStarts) {
  RecordingQueue queue;
  for (int id = 0; id < 17; ++id) ASSERT_TRUE(queue.PostItemLimited(new Item(id)));
  EXPECT_EQ(16, Item::live.load()) << "item 0 was destroyed unhandled";
  ASSERT_TRUE(queue.Start("ptz queue"));
  ASSERT_TRUE(WaitUntil([&] { return Item::live.load() == 0; }, 10000))
      << "items posted before Start must not wait for a later post";
  std::vector<int> expected;
  for (int id = 1; id <= 16; ++id) expected.push_back(id);
  EXPECT_EQ(expected, queue.Handled());
}

TEST_F(QueueThreadTest, PostToAStoppedQueueIsRefusedUntilTheNextStart) {
  RecordingQueue queue;
  ASSERT_TRUE(queue.Start("queue"));
  ASSERT_TRUE(queue.Stop());

  EXPECT_FALSE(queue.PostItem(new Item(1)));
  EXPECT_FALSE(queue.PostItemLimited(new Item(2)));
  EXPECT_EQ(0, Item::live.load()) << "refused items are destroyed at once";

  ASSERT_TRUE(queue.Start("queue again"));
  EXPECT_TRUE(queue.PostItem(new Item(3)));
  ASSERT_TRUE(WaitUntil([&] { return Item::live.load() == 0; }, 10000));
  EXPECT_EQ(std::vector<int>{3}, queue.Handled());
}

TEST_F(QueueThreadTest, AThrowingHandlerStillDestroysItsItemAndTheNextIsHandled) {
  RecordingQueue queue;
  ASSERT_TRUE(queue.Start("queue"));
  ASSERT_TRUE(queue.PostItem(new Item(kThrower)));
  ASSERT_TRUE(queue.PostItem(new Item(7)));
  ASSERT_TRUE(WaitUntil([&] { return Item::live.load() == 0; }, 10000));
  EXPECT_EQ((std::vector<int>{kThrower, 7}), queue.Handled());
  EXPECT_TRUE(queue.IsRunning());
}

TEST_F(QueueThreadTest, QueueStopDestroysPendingItemsUnhandled) {
  RecordingQueue queue;
  ASSERT_TRUE(queue.Start("queue"));
  ASSERT_TRUE(queue.PostItem(new Item(kBlocker)));
  ASSERT_TRUE(queue.blockerEntered.Wait(10000));
  for (int id = 0; id < 3; ++id) ASSERT_TRUE(queue.PostItem(new Item(id)));

  // Stop clears the queue before it waits for the thread; release the
  // blocker only once the pending items are gone.
  std::thread opener([&]() {
    WaitUntil([&] { return Item::live.load() <= 1; }, 10000);
    queue.gate.Set();
  });
  EXPECT_TRUE(queue.Stop());
  opener.join();
  EXPECT_EQ(std::vector<int>{kBlocker}, queue.Handled());
  EXPECT_EQ(0u, queue.PendingCount());
}

TEST_F(QueueThreadTest, PostsFromManyThreadsAndFromTheHandlerAreAllHandledInOrderPerPoster) {
  RecordingQueue queue;
  queue.postsFromHandler = 5;
  ASSERT_TRUE(queue.Start("queue"));
  constexpr int kPerThread = 200;
  std::thread a([&]() {
    for (int i = 0; i < kPerThread; ++i) queue.PostItem(new Item(i));
  });
  std::thread b([&]() {
    for (int i = 0; i < kPerThread; ++i) queue.PostItem(new Item(100000 + i));
  });
  a.join();
  b.join();
  ASSERT_TRUE(WaitUntil([&] { return queue.Handled().size() == 2 * kPerThread + 5; }, 20000));
  ASSERT_TRUE(WaitUntil([&] { return Item::live.load() == 0; }, 10000));
  int lastA = -1;
  int lastB = 100000 - 1;
  for (int id : queue.Handled()) {
    if (id >= 1000 && id < 100000) continue;  // posted by the handler
    if (id < 100000) {
      EXPECT_GT(id, lastA);
      lastA = id;
    } else if (id < 101000) {
      EXPECT_GT(id, lastB);
      lastB = id;
    }
  }
  EXPECT_EQ(kPerThread - 1, lastA);
  EXPECT_EQ(100000 + kPerThread - 1, lastB);
}

TEST(WorkItemTest, PtzQueueTakesWorkItems) {
  class PtzQueue : public CQueueThread<CWorkItem> {
   public:
    ~PtzQueue() override { Stop(); }
    std::atomic<std::uint32_t> lastCommand{0};
    CEvent handled{false};

   protected:
    void HandleWorkItem(CWorkItem* item) override {
      lastCommand = item->command;
      handled.Set();
    }
  };
  PtzQueue queue;
  ASSERT_TRUE(queue.Start("BaseIPPTZThread_Ch1"));
  ASSERT_TRUE(queue.PostItemLimited(new CWorkItem(7, 1, 0, 3)));
  ASSERT_TRUE(queue.handled.Wait(10000));
  EXPECT_EQ(7u, queue.lastCommand.load());
}

}  // namespace
}  // namespace quorvel
