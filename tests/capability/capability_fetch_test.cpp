// The fetching thread's work with properties that need no Gateway: every
// failure text a host can see, and the gate that silences an abandoned
// fetch.
#include "capability/capability_fetch.h"

#include <chrono>
#include <future>
#include <stdexcept>

#include <gtest/gtest.h>

#include "capability/guarded_result_sink.h"
#include "capability_sink.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using strevon::host::CapabilityNotifier;
using strevon::host::CapabilityResultSink;
using strevon::host::QueryOutcome;

// Properties whose fetch ends as a test says.
class ScriptedProperties : public CBaseCameraProperties {
 public:
  enum class Outcome { kSucceed, kFail, kThrow };
  ScriptedProperties(Outcome outcome, int status, std::string errorText)
      : CBaseCameraProperties(DEVICE_INFO(), 0),
        m_outcome(outcome),
        m_status(status),
        m_errorText(std::move(errorText)) {}

  bool Fetch(int* status) override {
    if (m_outcome == Outcome::kThrow) throw std::runtime_error("fetch");
    if (m_outcome == Outcome::kFail) {
      *status = m_status;
      return false;
    }
    m_deviceName = "device";
    return true;  // nothing else: Save then fails at the codecs
  }
  bool SaveParameters(ipcapture::ICapabilityResultSink*) override { return true; }
  std::string GetLastErrorText() const override { return m_errorText; }

 private:
  const Outcome m_outcome;
  const int m_status;
  const std::string m_errorText;
};

TEST(CapabilityFetchTest, EveryFailureReachesTheNotifierWithItsStatusAndText) {
  using O = ScriptedProperties::Outcome;
  struct Case {
    O outcome;
    int status;
    const char* errorText;
    int reportedStatus;
    const char* message;
  };
  const std::vector<Case> cases = {
      {O::kFail, 1, "", 1, "Failed to get camera properties, login failed (invalid credentials)"},
      {O::kFail, 1, "locked", 1, "Failed to get camera properties: locked"},
      {O::kFail, 2, "ignored", 2,
       "Failed to get camera properties, device is offline or is located in unaccessible subnet"},
      {O::kFail, 3, "", 3, "Failed to get camera properties"},
      {O::kFail, 3, "timeout", 3, "Failed to get camera properties: timeout"},
      {O::kFail, 7, "ignored", 7, "Failed to get camera properties"},
      {O::kThrow, 0, "", 3, "Failed to get camera properties. Unhandled exception occurred."},
      {O::kSucceed, 0, "", 3, "Failed to save capability query results"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    CapabilityNotifier notifier;
    CapabilityResultSink sink;
    CCapabilityFetch fetch(
        "gw", std::make_shared<ScriptedProperties>(c.outcome, c.status, c.errorText), &notifier,
        &sink);
    fetch.FetchCapabilities();
    const auto outcomes = notifier.Outcomes().Snapshot();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, QueryOutcome::kFailed);
    EXPECT_EQ(outcomes[0].status, c.reportedStatus);
    EXPECT_EQ(outcomes[0].message, c.message);
  }
}

TEST(CapabilityFetchTest, EachForbiddenCharacterMakesTheAddressInvalid) {
  const std::string forbidden = CCapabilityFetch::kInvalidAddressCharacters;
  EXPECT_EQ(forbidden.size(), 26u);
  for (char c : forbidden) {
    SCOPED_TRACE(std::string(1, c));
    EXPECT_FALSE(CCapabilityFetch::IsValidAddress(std::string("gw") + c + "1"));
  }
  for (const char* valid : {"127.0.0.1", "gateway-1.example_site.local", ""}) {
    EXPECT_TRUE(CCapabilityFetch::IsValidAddress(valid)) << valid;
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
  entered.get_future().wait();

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
