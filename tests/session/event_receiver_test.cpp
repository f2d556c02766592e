#include "session/event_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "session/session_test_support.h"

namespace quorvel {
namespace {

using session_test::MakeMessage;
using session_test::ScenarioWithoutLogOn;
using session_test::SimulatedGateway;

struct Received {
  std::string type;
  std::string pid;
  std::string status;
};

class RecordingConsumer : public IEventReceiverClient {
 public:
  void EventReceived(const std::string& eventType, const std::string& pid,
                     const std::string& status) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back({eventType, pid, status});
    m_changed.notify_all();
  }
  std::vector<Received> Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
  }
  bool WaitForCount(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_events.size() >= count; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Received> m_events;
};

ServerMessage EventMessage(const std::string& response, const std::string& type,
                           const std::string& pid, const std::string& status) {
  return MakeMessage({{"Response", response}, {"Event", type}, {"Status", status}, {"Pid", pid}});
}

TEST(EventReceiverTest, DeliversTypePidStatusInThatOrder) {
  CGWClient client;
  CEventReceiver receiver(&client);
  ASSERT_TRUE(receiver.Subscribe());
  RecordingConsumer consumer;
  receiver.AddClient("IOState", &consumer);
  ServerMessage event = EventMessage("recorder/event", "IOState", "12", "On");
  receiver.ProcessServerMessage(event);
  ASSERT_EQ(consumer.Events().size(), 1u);
  EXPECT_EQ(consumer.Events()[0].type, "IOState");
  EXPECT_EQ(consumer.Events()[0].pid, "12");
  EXPECT_EQ(consumer.Events()[0].status, "On");
}

TEST(EventReceiverTest, WhichMessagesReachAnIOStateConsumer) {
  struct Case {
    const char* label;
    ServerMessage message;
    bool delivered;
  };
  Case cases[] = {
      {"event", EventMessage("recorder/event", "IOState", "1", "Off"), true},
      {"reply to the subscription, even with an Event header",
       EventMessage("recorder/event/subscribe", "IOState", "1", "Off"), false},
      {"reply to the unsubscription without Event header",
       MakeMessage({{"Response", "recorder/event/unsubscribe"}, {"Status", "OK"}}), false},
      {"type differing in letter case", EventMessage("recorder/event", "iostate", "1", "On"), false},
      {"other type", EventMessage("recorder/event", "VideoMotion", "1", "On"), false},
      {"other command", EventMessage("camera/ptz/event", "IOState", "1", "On"), false},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.label);
    CGWClient client;
    CEventReceiver receiver(&client);
    ASSERT_TRUE(receiver.Subscribe());
    RecordingConsumer consumer;
    receiver.AddClient("IOState", &consumer);
    receiver.AddClient("IOState", &consumer);  // kept once
    receiver.ProcessServerMessage(c.message);
    EXPECT_EQ(consumer.Events().size(), c.delivered ? 1u : 0u);
  }
}

TEST(EventReceiverTest, UnsubscribeDropsConsumersUntilAddedAgain) {
  CGWClient client;
  CEventReceiver receiver(&client);
  RecordingConsumer consumer;
  ASSERT_TRUE(receiver.Subscribe());
  receiver.AddClient("IOState", &consumer);
  receiver.Unsubscribe();
  ServerMessage event = EventMessage("recorder/event", "IOState", "1", "On");
  receiver.ProcessServerMessage(event);
  ASSERT_TRUE(receiver.Subscribe());
  receiver.ProcessServerMessage(event);
  EXPECT_TRUE(consumer.Events().empty());
  receiver.AddClient("IOState", &consumer);
  receiver.ProcessServerMessage(event);
  EXPECT_EQ(consumer.Events().size(), 1u);
}

TEST(EventReceiverTest, SubscribeOnStoppedClientFailsAndDropsConsumers) {
  CGWClient client;
  client.Disconnect();
  CEventReceiver receiver(&client);
  RecordingConsumer consumer;
  receiver.AddClient("IOState", &consumer);
  EXPECT_FALSE(receiver.Subscribe());
  ServerMessage event = EventMessage("recorder/event", "IOState", "1", "On");
  receiver.ProcessServerMessage(event);
  EXPECT_TRUE(consumer.Events().empty());
}

// Over a real connection: the subscription's wire text, delivery on the
// receiver thread, the unsubscription.
TEST(EventReceiverTest, RoundTripWithGateway) {
  SimulatedGateway gateway(ScenarioWithoutLogOn());
  ASSERT_TRUE(gateway.Connect("admin", "admin"));
  CEventReceiver receiver(&gateway.client);
  RecordingConsumer consumer;
  ASSERT_TRUE(receiver.Subscribe());
  receiver.AddClient("IOState", &consumer);
  auto subscribe = gateway.sim.WaitForRequest("recorder/event/subscribe");
  ASSERT_TRUE(subscribe.has_value());
  EXPECT_EQ(subscribe->raw_text,
            "recorder/event/subscribe?events=Unknown%2CIOState%2CVideoMotion%2CCameraState");

  // The simulator pushes only to subscribed connections; retry until the
  // subscription has been handled there.
  bool delivered = false;
  for (int attempt = 0; attempt < 50 && !delivered; ++attempt) {
    gateway.sim.PushEvent("IOState", "in-1", "On");
    delivered = consumer.WaitForCount(1, std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(delivered);
  EXPECT_EQ(consumer.Events()[0].type, "IOState");
  EXPECT_EQ(consumer.Events()[0].pid, "in-1");
  EXPECT_EQ(consumer.Events()[0].status, "On");

  receiver.Unsubscribe();
  auto unsubscribe = gateway.sim.WaitForRequest("recorder/event/unsubscribe");
  ASSERT_TRUE(unsubscribe.has_value());
  EXPECT_EQ(unsubscribe->Param("events"), "Unknown,IOState,VideoMotion,CameraState");
}

// A consumer removing itself from inside EventReceived, on the client's
// receiver thread, must not deadlock the receiver.
class SelfRemovingConsumer : public RecordingConsumer {
 public:
  explicit SelfRemovingConsumer(CEventReceiver* receiver) : m_receiver(receiver) {}
  void EventReceived(const std::string& eventType, const std::string& pid,
                     const std::string& status) override {
    m_receiver->RemoveClient(this);
    RecordingConsumer::EventReceived(eventType, pid, status);
  }

 private:
  CEventReceiver* m_receiver;
};

TEST(EventReceiverTest, RemoveClientFromInsideEventReceivedOnReceiverThread) {
  SimulatedGateway gateway(ScenarioWithoutLogOn());
  ASSERT_TRUE(gateway.Connect("admin", "admin"));
  CEventReceiver receiver(&gateway.client);
  SelfRemovingConsumer selfRemoving(&receiver);
  RecordingConsumer witness;
  ASSERT_TRUE(receiver.Subscribe());
  receiver.AddClient("IOState", &selfRemoving);
  receiver.AddClient("IOState", &witness);
  bool delivered = false;
  for (int attempt = 0; attempt < 50 && !delivered; ++attempt) {
    gateway.sim.PushEvent("IOState", "in-1", "On");
    delivered = witness.WaitForCount(1, std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(delivered);
  gateway.sim.PushEvent("IOState", "in-2", "Off");
  ASSERT_TRUE(witness.WaitForCount(2, std::chrono::seconds(10))) << "receiver thread stuck";
  EXPECT_EQ(selfRemoving.Events().size(), 1u);
}

}  // namespace
}  // namespace quorvel
