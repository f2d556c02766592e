#include "session/gateway_io.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/event_receiver.h"
#include "session/session_test_support.h"
#include "support/fake_driver.h"

namespace quorvel {
namespace {

using session_test::MakeMessage;
using session_test::ScenarioWithoutLogOn;
using session_test::SimulatedGateway;
using Clock = std::chrono::steady_clock;

// The driver as the I/O object sees it: two inputs and one output.
class FakeDriver : public test_support::FakeDriver {
 public:
  FakeDriver() {
    counts = {2, 1};
    inputs = {{5, "in-1"}, {2, "in-2"}};
    outputs = {{0, "out-1"}};
    channelCount = 0;
    kalmenoVersion = 4;
  }
  // The first line equal to text was logged at level 4.
  bool Logged(const std::string& text) {
    const std::optional<int> level = LevelOf(text);
    return level && *level == 4;
  }
};

struct Report {
  std::uint32_t id;
  std::uint32_t state;
  Clock::time_point at;
};

class RecordingCallback : public ICaptureIOCallback {
 public:
  void OnInputState(std::uint32_t inputId, std::uint32_t state) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.push_back({inputId, state, Clock::now()});
    m_changed.notify_all();
  }
  std::vector<Report> Reports() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
  }
  bool WaitForCount(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_reports.size() >= count; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Report> m_reports;
};

const char kEventReceived[] = "quorvel::CGatewayIO::EventReceived: ";

class GatewayIOTest : public ::testing::Test {
 protected:
  CGWClient client;  // never connected: sends are queued and dropped
  CEventReceiver receiver{&client};
  FakeDriver driver;
  RecordingCallback callback;
  std::unique_ptr<CGatewayIO> io = std::make_unique<CGatewayIO>(&driver, &receiver, &client);
};

TEST_F(GatewayIOTest, EventStatusMapsToHostState) {
  ASSERT_TRUE(io->SetIOCallback(&callback));
  ASSERT_TRUE(io->StartIO());
  struct Case {
    const char* status;
    std::uint32_t state;
  };
  const Case cases[] = {{"On", 2}, {"Off", 1}, {"on", 0}, {"OFF", 0}, {"", 0}, {"Alarm", 0}};
  size_t expected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    io->EventReceived("IOState", "in-2", c.status);
    ++expected;
    const std::vector<Report> reports = callback.Reports();
    ASSERT_EQ(reports.size(), expected);
    EXPECT_EQ(reports.back().id, 2u);  // the record's id, not its position
    EXPECT_EQ(reports.back().state, c.state);
    EXPECT_TRUE(driver.Logged(std::string(kEventReceived) + "IO event (pid='in-2' status='" +
                              c.status + "') received"));
  }
  EXPECT_FALSE(io->StopIO());
}

TEST_F(GatewayIOTest, EventsThatChangeNothing) {
  ASSERT_TRUE(io->SetIOCallback(&callback));
  struct Case {
    const char* type;
    const char* pid;
    std::string logged;
  };
  const Case cases[] = {
      {"VideoMotion", "in-1", std::string(kEventReceived) + "ERROR Received not IO event ('VideoMotion')"},
      {"IOState", "in-3", std::string(kEventReceived) + "ERROR Input for pid 'in-3' not found"},
      {"IOState", "in", std::string(kEventReceived) + "ERROR Input for pid 'in' not found"},
      {"IOState", "IN-1", std::string(kEventReceived) + "ERROR Input for pid 'IN-1' not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logged);
    io->EventReceived(c.type, c.pid, "On");
    EXPECT_TRUE(driver.Logged(c.logged));
    EXPECT_TRUE(callback.Reports().empty());
  }
}

TEST_F(GatewayIOTest, CallbackIsReplacedOnlyByNonNull) {
  EXPECT_FALSE(io->SetIOCallback(nullptr));
  EXPECT_TRUE(io->SetIOCallback(&callback));
  EXPECT_TRUE(io->SetIOCallback(nullptr));
  io->EventReceived("IOState", "in-1", "On");
  EXPECT_EQ(callback.Reports().size(), 1u);
}

TEST_F(GatewayIOTest, CountsComeFromTheHostNotTheLists) {
  driver.counts = {7, 3};
  EXPECT_EQ(io->GetInputCount(), 7u);
  EXPECT_EQ(io->GetOutputCount(), 3u);
}

TEST_F(GatewayIOTest, StartAndStopLogAndStopIsAlwaysFalse) {
  ASSERT_TRUE(io->StartIO());
  EXPECT_TRUE(driver.Logged("quorvel::CGatewayIO::StartIO: Start IO"));
  EXPECT_FALSE(io->StopIO());
  EXPECT_TRUE(driver.Logged("quorvel::CGatewayIO::StopIO: Stop IO"));
  EXPECT_FALSE(io->StopIO());
}

TEST_F(GatewayIOTest, StartWhileRunningFailsWithLog) {
  ASSERT_TRUE(io->StartIO());
  EXPECT_FALSE(io->StartIO());
  EXPECT_TRUE(driver.Logged("quorvel::CGatewayIO::StartIO: ERROR Unable to start IO thread"));
}

// The first report comes one tick (2000 ms) after the start, every input
// off, in ascending id order; an event without a host callback is not kept.
TEST_F(GatewayIOTest, FirstTickReportsEveryInputOff) {
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(io->StartIO());
  io->EventReceived("IOState", "in-1", "On");  // no callback yet: dropped
  ASSERT_TRUE(io->SetIOCallback(&callback));
  ASSERT_TRUE(callback.WaitForCount(2, std::chrono::seconds(8)));
  const std::vector<Report> reports = callback.Reports();
  EXPECT_EQ(reports[0].id, 2u);
  EXPECT_EQ(reports[0].state, 1u);
  EXPECT_EQ(reports[1].id, 5u);
  EXPECT_EQ(reports[1].state, 1u);
  const auto firstAfter =
      std::chrono::duration_cast<std::chrono::milliseconds>(reports[0].at - start).count();
  EXPECT_GE(firstAfter, 1900);
  EXPECT_LT(firstAfter, 6000);
  EXPECT_FALSE(io->StopIO());
}

TEST_F(GatewayIOTest, TicksRepeatTheLastReportedState) {
  ASSERT_TRUE(io->SetIOCallback(&callback));
  ASSERT_TRUE(io->StartIO());
  io->EventReceived("IOState", "in-1", "On");
  ASSERT_TRUE(callback.WaitForCount(3, std::chrono::seconds(8)));
  const std::vector<Report> reports = callback.Reports();
  EXPECT_EQ(reports[1].id, 2u);
  EXPECT_EQ(reports[1].state, 1u);
  EXPECT_EQ(reports[2].id, 5u);
  EXPECT_EQ(reports[2].state, 2u);
}

TEST_F(GatewayIOTest, StartIORegistersForIOStateEvents) {
  ASSERT_TRUE(receiver.Subscribe());
  ASSERT_TRUE(io->SetIOCallback(&callback));
  ServerMessage event =
      MakeMessage({{"Response", "recorder/event"}, {"Event", "IOState"}, {"Pid", "in-1"},
                   {"Status", "On"}});
  receiver.ProcessServerMessage(event);
  EXPECT_TRUE(callback.Reports().empty());
  ASSERT_TRUE(io->StartIO());
  receiver.ProcessServerMessage(event);
  ASSERT_EQ(callback.Reports().size(), 1u);
  // A reconnection drops the registration until the host starts again.
  receiver.Unsubscribe();
  ASSERT_TRUE(receiver.Subscribe());
  receiver.ProcessServerMessage(event);
  EXPECT_EQ(callback.Reports().size(), 1u);
  EXPECT_FALSE(io->StopIO());
  ASSERT_TRUE(io->StartIO());
  receiver.ProcessServerMessage(event);
  EXPECT_EQ(callback.Reports().size(), 2u);
}

// Destroyed without StopIO: no event may reach the freed object (ASan).
TEST_F(GatewayIOTest, DestructorLeavesTheEventReceiver) {
  ASSERT_TRUE(receiver.Subscribe());
  ASSERT_TRUE(io->SetIOCallback(&callback));
  ASSERT_TRUE(io->StartIO());
  io.reset();
  ServerMessage event =
      MakeMessage({{"Response", "recorder/event"}, {"Event", "IOState"}, {"Pid", "in-1"},
                   {"Status", "On"}});
  receiver.ProcessServerMessage(event);
  EXPECT_TRUE(callback.Reports().empty());
}

TEST_F(GatewayIOTest, SetOutputOutsideTheList) {
  io->SetOutput(1, 1);
  EXPECT_TRUE(driver.Logged("quorvel::CGatewayIO::SetOutput: ERROR Output 1 not found in the list"));
  driver.outputs.clear();
  io->SetOutput(0, 1);
  EXPECT_TRUE(driver.Logged("quorvel::CGatewayIO::SetOutput: ERROR Output 0 not found in the list"));
}

TEST_F(GatewayIOTest, SetOutputOnStoppedClient) {
  client.Disconnect();
  io->SetOutput(0, 1);
  EXPECT_TRUE(
      driver.Logged("quorvel::CGatewayIO::SetOutput: ERROR Unable to send message for output 0"));
}

// Over a real connection: only the pid is sent, whatever the state.
TEST(GatewayIORoundTripTest, SetOutputSendsToggleWithPidOnly) {
  SimulatedGateway gateway(ScenarioWithoutLogOn());
  ASSERT_TRUE(gateway.Connect("admin", "admin"));
  CEventReceiver receiver(&gateway.client);
  FakeDriver driver;
  driver.outputs = {{0, "out-1"}, {1, "out-2"}};
  CGatewayIO io(&driver, &receiver, &gateway.client);
  const int states[] = {1, 0, -7};
  for (int state : states) {
    SCOPED_TRACE(state);
    gateway.sim.ClearRequests();
    io.SetOutput(1, state);
    auto toggle = gateway.sim.WaitForRequest("switch/toggle");
    ASSERT_TRUE(toggle.has_value());
    EXPECT_EQ(toggle->raw_text, "switch/toggle?pid=out-2");
    EXPECT_TRUE(driver.Logged("quorvel::CGatewayIO::SetOutput: Output 1 state was set to '" +
                              std::to_string(state) + "'"));
  }
}

}  // namespace
}  // namespace quorvel
