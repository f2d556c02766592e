#include "session/event_receiver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/messages.h"
#include "support/recording_client.h"
#include "support/recording_consumer.h"

namespace quorvel {
namespace {

using test_support::MakeServerMessage;
using test_support::ReceivedEvent;

ServerMessage EventMessage(const std::string& response, const std::string& type) {
  return MakeServerMessage({{"Response", response}, {"Event", type}, {"Status", "Off"}, {"Pid", "12"}});
}

TEST(EventReceiverTest, OnlyRecorderEventsOfTheRegisteredTypeReachTheConsumer) {
  struct Case {
    const char* label;
    ServerMessage message;
    bool refuseSubscription;
    bool delivered;
  };
  Case cases[] = {
      {"event", EventMessage("recorder/event", "IOState"), false, true},
      {"refused subscription", EventMessage("recorder/event", "IOState"), true, false},
      {"subscription reply with Event", EventMessage("recorder/event/subscribe", "IOState"), false, false},
      {"type differing in letter case", EventMessage("recorder/event", "iostate"), false, false},
      {"other command", EventMessage("camera/ptz/event", "IOState"), false, false},
  };
  const std::string events = "events=Unknown%2CIOState%2CVideoMotion%2CCameraState";
  for (Case& c : cases) {
    SCOPED_TRACE(c.label);
    test_support::RecordingClient client;
    client.accept = !c.refuseSubscription;
    auto consumer = std::make_shared<test_support::RecordingConsumer>();
    {
      CEventReceiver receiver(&client);
      receiver.AddClient("IOState", consumer);
      receiver.AddClient("IOState", consumer);  // kept once
      receiver.AddClient("", consumer);         // ignored, as is a null consumer
      receiver.AddClient("IOState", nullptr);
      EXPECT_EQ(receiver.Subscribe(), !c.refuseSubscription);
      receiver.ProcessServerMessage(c.message);
      const std::vector<ReceivedEvent> expected = {{"IOState", "12", "Off"}};
      EXPECT_EQ(consumer->events.Snapshot(), c.delivered ? expected : std::vector<ReceivedEvent>{});
    }
    const std::vector<std::string> requests = client.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0], "recorder/event/subscribe?" + events);
    EXPECT_EQ(requests.back(), "recorder/event/unsubscribe?" + events);
  }
}

}  // namespace
}  // namespace quorvel
