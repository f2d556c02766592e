#include "session/event_consumer_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

using namespace std::chrono_literals;

struct Received {
  std::string type;
  std::string pid;
  std::string status;
  bool operator==(const Received& o) const {
    return type == o.type && pid == o.pid && status == o.status;
  }
};

class RecordingConsumer : public IEventReceiverClient {
 public:
  void EventReceived(const std::string& eventType, const std::string& pid,
                     const std::string& status) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back({eventType, pid, status});
  }
  std::vector<Received> Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
  }

 private:
  std::mutex m_mutex;
  std::vector<Received> m_events;
};

TEST(EventConsumerListTest, DeliversByExactTypeInOrderAdded) {
  CEventConsumerList list;
  RecordingConsumer io, motion;
  list.Add("IOState", &io);
  list.Add("VideoMotion", &motion);

  struct Case {
    const char* type;
    size_t ioCount;
    size_t motionCount;
  };
  const Case cases[] = {{"IOState", 1, 0}, {"iostate", 1, 0}, {"IOSTATE", 1, 0},
                        {"VideoMotion", 1, 1}, {"", 1, 1}, {"CameraState", 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    list.Deliver(c.type, "12", "On");
    EXPECT_EQ(io.Events().size(), c.ioCount);
    EXPECT_EQ(motion.Events().size(), c.motionCount);
  }
  ASSERT_EQ(io.Events().size(), 1u);
  EXPECT_EQ(io.Events()[0], (Received{"IOState", "12", "On"}));
}

TEST(EventConsumerListTest, EmptyTypeOrNullConsumerChangesNothing) {
  CEventConsumerList list;
  RecordingConsumer c;
  list.Add("", &c);
  list.Add("IOState", nullptr);
  list.Deliver("", "1", "On");
  list.Deliver("IOState", "1", "On");
  EXPECT_TRUE(c.Events().empty());
  list.Remove(nullptr);  // harmless
}

TEST(EventConsumerListTest, RemoveTakesConsumerOutOfEveryTypeAndClearDropsAll) {
  CEventConsumerList list;
  RecordingConsumer a, b;
  list.Add("IOState", &a);
  list.Add("VideoMotion", &a);
  list.Add("IOState", &b);
  list.Remove(&a);
  list.Deliver("IOState", "1", "On");
  list.Deliver("VideoMotion", "1", "On");
  EXPECT_TRUE(a.Events().empty());
  EXPECT_EQ(b.Events().size(), 1u);

  list.Clear();
  list.Deliver("IOState", "1", "On");
  EXPECT_EQ(b.Events().size(), 1u);
  // After a clear a consumer must be added again.
  list.Add("IOState", &b);
  list.Deliver("IOState", "1", "On");
  EXPECT_EQ(b.Events().size(), 2u);
}

// A consumer that removes itself (or another one) while being called: the
// call is on the delivering thread, so Remove must not wait for it.
class SelfRemovingConsumer : public IEventReceiverClient {
 public:
  SelfRemovingConsumer(CEventConsumerList* list, IEventReceiverClient* alsoRemove)
      : m_list(list), m_alsoRemove(alsoRemove) {}
  void EventReceived(const std::string&, const std::string&, const std::string&) override {
    ++calls;
    m_list->Remove(this);
    if (m_alsoRemove) m_list->Remove(m_alsoRemove);
  }
  std::atomic<int> calls{0};

 private:
  CEventConsumerList* m_list;
  IEventReceiverClient* m_alsoRemove;
};

TEST(EventConsumerListTest, RemoveFromInsideEventReceivedDoesNotDeadlock) {
  CEventConsumerList list;
  RecordingConsumer later;
  SelfRemovingConsumer first(&list, &later);
  list.Add("IOState", &first);
  list.Add("IOState", &later);

  auto done = std::async(std::launch::async, [&] {
    list.Deliver("IOState", "1", "On");
    list.Deliver("IOState", "1", "On");
  });
  ASSERT_EQ(done.wait_for(5s), std::future_status::ready) << "delivery deadlocked";
  EXPECT_EQ(first.calls.load(), 1);
  // Removed by the first consumer before its turn in the same delivery.
  EXPECT_TRUE(later.Events().empty());
}

// Blocks inside EventReceived until released, to hold a delivery in flight.
class BlockingConsumer : public IEventReceiverClient {
 public:
  void EventReceived(const std::string&, const std::string&, const std::string&) override {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_entered = true;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_released; });
    m_returned = true;
  }
  bool WaitEntered(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_entered; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
  }
  bool Returned() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_returned;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_entered = false;
  bool m_released = false;
  bool m_returned = false;
};

// The owner may destroy a consumer as soon as Remove returned, so Remove on
// another thread must wait for the call already running into it.
TEST(EventConsumerListTest, RemoveWaitsForDeliveryInFlightOnAnotherThread) {
  CEventConsumerList list;
  BlockingConsumer consumer;
  list.Add("IOState", &consumer);
  auto delivery = std::async(std::launch::async, [&] { list.Deliver("IOState", "1", "On"); });
  ASSERT_TRUE(consumer.WaitEntered(5s));

  auto removal = std::async(std::launch::async, [&] {
    list.Remove(&consumer);
    return consumer.Returned();
  });
  // Still blocked: the delivery has not returned yet.
  EXPECT_EQ(removal.wait_for(100ms), std::future_status::timeout);
  consumer.Release();
  ASSERT_EQ(removal.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(removal.get()) << "Remove returned while the consumer was still being called";
  ASSERT_EQ(delivery.wait_for(5s), std::future_status::ready);
}

// Clear (the unsubscription) leaves the consumer's later Remove still
// waiting for the call in flight.
TEST(EventConsumerListTest, RemoveAfterClearStillWaitsForDeliveryInFlight) {
  CEventConsumerList list;
  BlockingConsumer consumer;
  list.Add("IOState", &consumer);
  auto delivery = std::async(std::launch::async, [&] { list.Deliver("IOState", "1", "On"); });
  ASSERT_TRUE(consumer.WaitEntered(5s));
  list.Clear();
  auto removal = std::async(std::launch::async, [&] {
    list.Remove(&consumer);
    return consumer.Returned();
  });
  EXPECT_EQ(removal.wait_for(100ms), std::future_status::timeout);
  consumer.Release();
  ASSERT_EQ(removal.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(removal.get());
  ASSERT_EQ(delivery.wait_for(5s), std::future_status::ready);
}

// Deliveries racing with add and remove: nothing is called after its Remove
// returned (checked by poisoning the consumer), and TSan sees no race.
class PoisonableConsumer : public IEventReceiverClient {
 public:
  void EventReceived(const std::string&, const std::string&, const std::string&) override {
    if (removed.load()) lateCalls.fetch_add(1);
    calls.fetch_add(1);
  }
  std::atomic<bool> removed{false};
  std::atomic<int> lateCalls{0};
  std::atomic<int> calls{0};
};

TEST(EventConsumerListTest, NoCallStartsAfterRemoveReturned) {
  CEventConsumerList list;
  std::atomic<bool> stop{false};
  std::thread deliverer([&] {
    while (!stop.load()) list.Deliver("IOState", "1", "On");
  });
  int totalLate = 0;
  for (int round = 0; round < 200; ++round) {
    PoisonableConsumer consumer;
    list.Add("IOState", &consumer);
    while (consumer.calls.load() == 0 && round % 2 == 0) std::this_thread::yield();
    list.Remove(&consumer);
    consumer.removed.store(true);
    totalLate += consumer.lateCalls.load();
  }
  stop.store(true);
  deliverer.join();
  EXPECT_EQ(totalLate, 0);
}

}  // namespace
}  // namespace quorvel
