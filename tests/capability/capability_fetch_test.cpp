// The fetching thread's failure texts, and the gate that silences an
// abandoned fetch.
#include "capability/capability_fetch.h"

#include <chrono>
#include <future>

#include <gtest/gtest.h>

#include "capability/guarded_result_sink.h"
#include "capability_sink.h"
#include "support/filled_properties.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using strevon::host::CapabilityNotifier;
using strevon::host::CapabilityResultSink;
using strevon::host::QueryOutcome;

TEST(CapabilityFetchTest, EveryFailureReachesTheNotifierWithItsStatusAndText) {
  const std::string fetch = "Failed to get camera properties";
  struct Case {
    int status;
    const char* errorText;
    int reportedStatus;
    std::string message;
  };
  const std::vector<Case> cases = {
      {1, "locked", 1, fetch + ": locked"},
      {2, "ignored", 2, fetch + ", device is offline or is located in unaccessible subnet"},
      {3, "", 3, fetch},
      {3, "timeout", 3, fetch + ": timeout"},
      {7, "ignored", 7, fetch},
      {-1, "", 3, fetch + ". Unhandled exception occurred."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    CapabilityNotifier notifier;
    CapabilityResultSink sink;
    auto properties = std::make_shared<test_support::FilledProperties>(0, c.status, c.errorText);
    CCapabilityFetch("gw", properties, &notifier, &sink).FetchCapabilities();
    const auto outcomes = notifier.Outcomes().Snapshot();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, QueryOutcome::kFailed);
    EXPECT_EQ(outcomes[0].status, c.reportedStatus);
    EXPECT_EQ(outcomes[0].message, c.message);
  }
}

TEST(HostCallGateTest, GuardedSinkForwardsUntilClosedThenHandsOutNothing) {
  CapabilityResultSink host;
  auto gate = std::make_shared<CHostCallGate>();
  CGuardedResultSink sink(&host, gate);
  ipcapture::ICapabilityParameter* parameter = sink.AddParameter(3);
  ASSERT_NE(parameter, nullptr);
  parameter->SetName("Channel 1");
  sink.SetCapability(0, 2);
  gate->Close();
  parameter->SetValue("late");
  sink.SetCapability(0, 9);
  EXPECT_EQ(sink.GetInfoItem(1), nullptr);
  EXPECT_EQ(sink.AddParameter(4), nullptr);
  EXPECT_EQ(sink.GetResolutionList(), nullptr);
  EXPECT_EQ(sink.GetFrameIntervalList(1), nullptr);
  EXPECT_EQ(host.Calls(),
            (std::vector<std::string>{"AddParameter 3", "SetName Channel 1", "SetCapability 0 2"}));
}

TEST(HostCallGateTest, CloseWaitsOnlyItsGraceForACallUnderWay) {
  CHostCallGate gate;
  std::promise<void> entered;
  std::promise<void> leave;
  auto caller = std::async(std::launch::async, [&] {
    CHostCallGate::Call call(gate);
    entered.set_value();
    leave.get_future().wait_for(10s);
    return call.IsOpen();
  });
  ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(gate.Close(100));  // the call is stuck in the host
  EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
  EXPECT_TRUE(gate.IsClosed());
  EXPECT_FALSE(CHostCallGate::Call(gate).IsOpen());

  leave.set_value();
  EXPECT_TRUE(caller.get());
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(gate.Close(5000));  // nothing under way: no wait
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

}  // namespace
}  // namespace quorvel
