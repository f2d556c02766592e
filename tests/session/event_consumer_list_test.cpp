#include "session/event_consumer_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

#include "support/recording_consumer.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using test_support::RecordingConsumer;

// From inside EventReceived a consumer removes itself and one later in the
// same delivery: no wait on its own call, and the later one is skipped.
TEST(EventConsumerListTest, ConsumerRemovingItselfAndALaterOneInsideTheCall) {
  struct SelfRemoving : RecordingConsumer {
    void EventReceived(const std::string& t, const std::string& p, const std::string& s) override {
      RecordingConsumer::EventReceived(t, p, s);
      list->Remove(this);
      list->Remove(later);
    }
    CEventConsumerList* list = nullptr;
    IEventReceiverClient* later = nullptr;
  };
  CEventConsumerList list;
  RecordingConsumer later;
  SelfRemoving first;
  first.list = &list;
  first.later = &later;
  list.Add("IOState", &first);
  list.Add("IOState", &later);
  auto done = std::async(std::launch::async, [&] {
    list.Deliver("IOState", "1", "On");
    list.Deliver("IOState", "1", "On");
  });
  ASSERT_EQ(done.wait_for(10s), std::future_status::ready) << "delivery deadlocked";
  EXPECT_EQ(first.Count(), 1u);
  EXPECT_EQ(later.Count(), 0u);
}

// Clear (the unsubscription) drops the consumer, but its own Remove on
// another thread must still wait for the call already running into it.
TEST(EventConsumerListTest, RemoveAfterClearStillWaitsForTheDeliveryInFlight) {
  struct Blocking : IEventReceiverClient {
    void EventReceived(const std::string&, const std::string&, const std::string&) override {
      entered.set_value();
      release.wait();
      returned = true;
    }
    std::promise<void> entered;
    std::shared_future<void> release;
    std::atomic<bool> returned{false};
  } consumer;
  std::promise<void> release;
  consumer.release = release.get_future().share();
  CEventConsumerList list;
  list.Add("IOState", &consumer);
  auto delivery = std::async(std::launch::async, [&] { list.Deliver("IOState", "1", "On"); });
  ASSERT_EQ(consumer.entered.get_future().wait_for(10s), std::future_status::ready);
  list.Clear();
  auto removal = std::async(std::launch::async, [&] {
    list.Remove(&consumer);
    return consumer.returned.load();
  });
  EXPECT_EQ(removal.wait_for(100ms), std::future_status::timeout);
  release.set_value();
  ASSERT_EQ(removal.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(removal.get()) << "Remove returned while the consumer was still being called";
  delivery.get();
}

}  // namespace
}  // namespace quorvel
