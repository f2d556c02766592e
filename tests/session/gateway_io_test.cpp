#include "session/gateway_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "io_callback.h"
#include "session/event_receiver.h"
#include "support/fake_driver.h"
#include "support/messages.h"
#include "support/recording_client.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using strevon::host::InputReport;

class GatewayIOTest : public ::testing::Test {
 protected:
  GatewayIOTest() {
    driver.inputs = {{5, "in-1"}, {2, "in-2"}};
    driver.outputs = {{0, "out-1"}, {1, "out-2"}};
  }
  test_support::RecordingClient client;
  CEventReceiver receiver{&client};
  test_support::FakeDriver driver;
  strevon::host::IOCallback callback;
  std::shared_ptr<int> driverShare = std::make_shared<int>(0);
  std::unique_ptr<CGatewayIO> io =
      std::make_unique<CGatewayIO>(&driver, &receiver, &client, driverShare);

  void Deliver(const std::string& type, const std::string& pid, const std::string& status) {
    ServerMessage event = test_support::MakeServerMessage(
        {{"Response", "recorder/event"}, {"Event", type}, {"Pid", pid}, {"Status", status}});
    receiver.ProcessServerMessage(event);
  }
};

// An input event is reported at once with the input's id (not its
// position), or logged and dropped; a toggle carries only the output's pid,
// whatever the state.
TEST_F(GatewayIOTest, InputEventsAndOutputTogglesOrWhyNot) {
  ASSERT_TRUE(io->SetIOCallback(&callback));
  ASSERT_TRUE(io->StartIO());
  struct Case {
    std::string type, pid, status;  // for a toggle: "", output index, state
    int reported;                   // state reported to the host, or -1
    std::string request;            // request sent, or ""
    std::string logged;
  };
  const Case cases[] = {
      {"IOState", "in-2", "On", 2, "", "EventReceived: IO event (pid='in-2' status='On') received"},
      {"IOState", "in-2", "Off", 1, "", ""},
      {"IOState", "in-1", "on", 0, "", ""},
      {"IOState", "IN-1", "On", -1, "", "EventReceived: ERROR Input for pid 'IN-1' not found"},
      {"", "1", "-7", -1, "switch/toggle?pid=out-2", "SetOutput: Output 1 state was set to '-7'"},
      {"", "2", "1", -1, "", "SetOutput: ERROR Output 2 not found in the list"},
      {"refused", "0", "1", -1, "switch/toggle?pid=out-1", "SetOutput: ERROR Unable to send message for output 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + " " + c.pid + " " + c.status);
    const std::size_t reports = callback.Reports().Size();
    client.Clear();
    client.accept = c.type != "refused";
    if (c.type.empty() || c.type == "refused") {
      io->SetOutput(static_cast<std::uint32_t>(std::stoi(c.pid)), std::stoi(c.status));
    } else {
      Deliver(c.type, c.pid, c.status);
    }
    EXPECT_TRUE(c.logged.empty() || driver.LevelOf("quorvel::CGatewayIO::" + c.logged) == 4)
        << c.logged;
    EXPECT_EQ(client.Requests(), c.request.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{c.request});
    const std::vector<InputReport> now = callback.Reports().Snapshot();
    ASSERT_EQ(now.size(), reports + (c.reported >= 0 ? 1 : 0));
    if (c.reported < 0) continue;
    EXPECT_EQ(now.back().inputId, c.pid == "in-2" ? 2u : 5u);
    EXPECT_EQ(now.back().state, static_cast<std::uint32_t>(c.reported));
  }
}

// The first tick, 2000 ms after the start, reports every input by ascending
// id with the state the host last heard (an event without callback is lost).
TEST_F(GatewayIOTest, TickRepeatsTheLastReportedStates) {
  EXPECT_FALSE(io->SetIOCallback(nullptr));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(io->StartIO());
  Deliver("IOState", "in-1", "On");  // no callback yet
  ASSERT_TRUE(io->SetIOCallback(&callback));
  EXPECT_TRUE(io->SetIOCallback(nullptr));  // keeps the current one
  Deliver("IOState", "in-2", "On");
  ASSERT_TRUE(callback.Reports().WaitForCount(2, std::chrono::seconds(8)));
  EXPECT_GE(test_support::ElapsedMs(start), 1900);
  ASSERT_TRUE(callback.Reports().WaitForCount(3, std::chrono::seconds(1)));
  const std::vector<InputReport> reports = callback.Reports().Snapshot();
  EXPECT_EQ(reports[1].inputId, 2u);
  EXPECT_EQ(reports[1].state, 2u);
  EXPECT_EQ(reports[2].inputId, 5u);
  EXPECT_EQ(reports[2].state, 1u);
  EXPECT_FALSE(io->StopIO());
}

// Events reach the object only between StartIO and StopIO; the destructor
// leaves the receiver even without StopIO (ASan checks that no event
// reaches the freed object).
TEST_F(GatewayIOTest, EventRegistrationFollowsStartStopAndDestruction) {
  ASSERT_TRUE(receiver.Subscribe());
  ASSERT_TRUE(io->SetIOCallback(&callback));
  const auto deliver = [&] {
    Deliver("IOState", "in-1", "On");
    return callback.Reports().Size();
  };
  EXPECT_EQ(deliver(), 0u);
  ASSERT_TRUE(io->StartIO());
  EXPECT_EQ(deliver(), 1u);
  EXPECT_FALSE(io->StopIO());
  io->Resubscribe();  // after a reconnection, while stopped: stays out
  EXPECT_EQ(deliver(), 1u);
  ASSERT_TRUE(io->StartIO());
  EXPECT_EQ(deliver(), 2u);
  io.reset();
  EXPECT_EQ(deliver(), 2u);
}

// The host's callback blocks in an event delivery and in the first tick:
// the destruction returns without waiting for either, the tick calls the
// host no more, and the shared state (with the driver's share) goes with
// the last of them; ASan checks that the late delivery touches nothing freed.
TEST_F(GatewayIOTest, DestructionDoesNotWaitForHostCallsUnderWay) {
  struct Blocking : ICaptureIOCallback {
    void OnInputState(std::uint32_t, std::uint32_t) override { ++calls; release.wait(); }
    std::atomic<int> calls{0};
    std::shared_future<void> release;
  } blocking;
  std::promise<void> release;
  blocking.release = release.get_future().share();
  ASSERT_TRUE(io->SetIOCallback(&blocking));
  ASSERT_TRUE(io->StartIO());
  auto delivery = std::async(std::launch::async, [&] { Deliver("IOState", "in-1", "On"); });
  const bool bothInside = test_support::WaitUntil([&] { return blocking.calls == 2; });
  auto destruction = std::async(std::launch::async, [&] { io.reset(); });
  const bool returned = destruction.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  release.set_value();
  ASSERT_TRUE(bothInside);
  EXPECT_TRUE(returned) << "the destruction waited for the host";
  const std::weak_ptr<int> share = driverShare;
  driverShare.reset();
  EXPECT_TRUE(test_support::WaitUntil([&] { return share.expired(); }));
  EXPECT_EQ(blocking.calls, 2);
}

// StopIO must not wait for the event delivery that waits for a lock the
// host holds while it calls StopIO: that deadlocked the host's thread and the
// receiver, and with it all Gateway traffic. Once the late report is
// through, I/O starts again.
TEST_F(GatewayIOTest, StopIOWhileHoldingTheLockTheInputCallbackTakes) {
  struct Locking : ICaptureIOCallback {
    void OnInputState(std::uint32_t inputId, std::uint32_t state) override {
      ++entered;
      std::lock_guard<std::mutex> lock(hostLock);
      reports->OnInputState(inputId, state);
    }
    strevon::host::IOCallback* reports = nullptr;
    std::mutex hostLock;
    std::atomic<int> entered{0};
  } locking;
  locking.reports = &callback;
  ASSERT_TRUE(io->SetIOCallback(&locking));
  ASSERT_TRUE(io->StartIO());
  std::future<void> delivery;  // declared first: joined after the lock is let go
  std::unique_lock<std::mutex> hostLock(locking.hostLock);
  delivery = std::async(std::launch::async, [&] { Deliver("IOState", "in-1", "On"); });
  ASSERT_TRUE(test_support::WaitUntil([&] { return locking.entered == 1; }));
  auto stop = std::async(std::launch::async, [&] { return io->StopIO(); });
  const bool returned = stop.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  hostLock.unlock();
  EXPECT_TRUE(returned) << "StopIO waited for the host's callback";
  delivery.get();
  ASSERT_TRUE(test_support::WaitUntil([&] { return io->StartIO(); }));
  Deliver("IOState", "in-2", "On");
  ASSERT_FALSE(callback.Reports().Snapshot().empty());
  EXPECT_EQ(callback.Reports().Snapshot().back().inputId, 2u);
}

}  // namespace
}  // namespace quorvel
