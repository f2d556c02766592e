#include "infra/queue_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "infra/event.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using test_support::WaitUntil;

struct Item {
  static std::atomic<int> live;
  explicit Item(int id_) : id(id_) { ++live; }
  ~Item() { --live; }
  int id;
};
std::atomic<int> Item::live{0};

constexpr int kBlocker = -1, kThrower = -2;

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

  CManualEvent gate;            // the blocker item waits for it
  CManualEvent blockerEntered;  // set when the blocker is being handled
  std::atomic<int> postsFromHandler{0};

 protected:
  void HandleWorkItem(Item* item) override {
    std::unique_lock<std::mutex> guard(m_mutex);
    m_handled.push_back(item->id);
    guard.unlock();
    if (item->id == kBlocker) { blockerEntered.Set(); gate.Wait(kInfinite); }
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

TEST_F(QueueThreadTest, SeventeenthLimitedPostDropsTheOldestAndSixteenAreHandledInOrder) {
  for (bool startedAndBusy : {true, false}) {
    SCOPED_TRACE(startedAndBusy ? "while the handler is busy" : "before Start");
    RecordingQueue queue;
    std::vector<int> expected;
    if (startedAndBusy) {
      ASSERT_TRUE(queue.Start("ptz queue"));
      ASSERT_TRUE(queue.PostItem(new Item(kBlocker)));
      ASSERT_TRUE(queue.blockerEntered.Wait(10000));
      expected.push_back(kBlocker);
    }
    for (int id = 0; id < 17; ++id) ASSERT_TRUE(queue.PostItemLimited(new Item(id)));
    EXPECT_EQ(16u, queue.PendingCount());
    EXPECT_EQ(int(expected.size()) + 16, Item::live.load()) << "item 0 was destroyed unhandled";
    ASSERT_TRUE(startedAndBusy || queue.Start("ptz queue"));
    queue.gate.Set();
    // Items posted before Start must not wait for a later post.
    ASSERT_TRUE(WaitUntil([&] { return Item::live.load() == 0; }, 10000));
    for (int id = 1; id <= 16; ++id) expected.push_back(id);
    EXPECT_EQ(expected, queue.Handled());
  }
}

// The new item is refused, the waiting ones stay; one alone is never too costly.
TEST_F(QueueThreadTest, BoundedPostRefusesTheNewItemAtItsCountOrCost) {
  using Result = RecordingQueue::PostResult;
  RecordingQueue queue;
  EXPECT_EQ(Result::kQueued, queue.PostItemBounded(new Item(0), 60, 2, 100));
  EXPECT_EQ(Result::kFull, queue.PostItemBounded(new Item(1), 41, 2, 100));
  EXPECT_EQ(Result::kQueued, queue.PostItemBounded(new Item(2), 40, 2, 100));
  EXPECT_EQ(Result::kFull, queue.PostItemBounded(new Item(3), 0, 2, 100));
  queue.ClearItems();
  EXPECT_EQ(Result::kQueued, queue.PostItemBounded(new Item(4), 500, 2, 100));
}

// A handler runs outside the queue lock, so it may post to its own queue;
// one that throws ends nothing.
TEST_F(QueueThreadTest, PostToAStoppedQueueIsRefusedUntilTheNextStart) {
  RecordingQueue queue;
  ASSERT_TRUE(queue.Start("queue"));
  ASSERT_TRUE(queue.Stop());
  EXPECT_FALSE(queue.PostItem(new Item(1)));
  EXPECT_FALSE(queue.PostItemLimited(new Item(2)));
  EXPECT_EQ(0, Item::live.load()) << "refused items are destroyed at once";
  queue.postsFromHandler = 1;
  ASSERT_TRUE(queue.Start("queue again"));
  EXPECT_TRUE(queue.PostItem(new Item(kThrower)));
  EXPECT_TRUE(queue.PostItem(new Item(3)));
  ASSERT_TRUE(WaitUntil([&] { return queue.Handled().size() == 3 && Item::live.load() == 0; }, 10000));
  EXPECT_EQ((std::vector<int>{kThrower, 3, 1003}), queue.Handled());
  EXPECT_TRUE(queue.IsRunning());
}

TEST_F(QueueThreadTest, StopDestroysPendingItemsUnhandled) {
  RecordingQueue queue;
  ASSERT_TRUE(queue.Start("queue"));
  ASSERT_TRUE(queue.PostItem(new Item(kBlocker)));
  ASSERT_TRUE(queue.blockerEntered.Wait(10000));
  for (int id = 0; id < 3; ++id) ASSERT_TRUE(queue.PostItem(new Item(id)));
  // Stop clears the queue before it waits for the thread; release the
  // blocker only once the pending items are gone.
  std::thread opener([&] {
    WaitUntil([&] { return Item::live.load() <= 1; }, 10000);
    queue.gate.Set();
  });
  EXPECT_TRUE(queue.Stop());
  opener.join();
  EXPECT_EQ(std::vector<int>{kBlocker}, queue.Handled());
  EXPECT_EQ(0u, queue.PendingCount());
}

}  // namespace
}  // namespace quorvel
