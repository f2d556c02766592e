#include "session/event_consumer_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/recording_consumer.h"

namespace quorvel {
namespace {

using test_support::RecordingConsumer;

// From inside EventReceived a consumer removes itself and one later in the
// same delivery: the later one is skipped, and neither is called again.
TEST(EventConsumerListTest, ConsumerRemovingItselfAndALaterOneInsideTheCall) {
  struct SelfRemoving : RecordingConsumer, std::enable_shared_from_this<SelfRemoving> {
    void EventReceived(const std::string& t, const std::string& p, const std::string& s) override {
      RecordingConsumer::EventReceived(t, p, s);
      list->Remove(shared_from_this());
      list->Remove(later);
    }
    CEventConsumerList* list = nullptr;
    std::shared_ptr<IEventReceiverClient> later;
  };
  CEventConsumerList list;
  auto later = std::make_shared<RecordingConsumer>();
  auto first = std::make_shared<SelfRemoving>();
  first->list = &list;
  first->later = later;
  list.Add("IOState", first);
  list.Add("IOState", later);
  list.Deliver("IOState", "1", "On");
  list.Deliver("IOState", "1", "On");
  EXPECT_EQ(first->Count(), 1u);
  EXPECT_EQ(later->Count(), 0u);
}

}  // namespace
}  // namespace quorvel
