// The capability query as a host runs it: the real library's exports
// against the Gateway simulator.
#include <atomic>
#include <functional>

#include "capability_sink.h"
#include "integration/integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

using host::CapabilityNotifier;
using host::CapabilityResultSink;
using host::QueryOutcome;
using quorvel::ipcapture::IIPCapabilityQuery;

constexpr auto kQueryDeadline = 20s;  // a fetch takes about 1 s; sanitizer builds are slower

const char kSettings[] =
    "<Configuration><Common><Profile>service</Profile>"
    "<Resolutions><Item>640x480</Item><Item>1280x720</Item><Item>640x480</Item></Resolutions>"
    "</Common></Configuration>";

class CapabilityQueryTest : public IntegrationFixture {
 protected:
  void SetUp() override {
    IntegrationFixture::SetUp();
    home.Write(kSettings);
  }
  void TearDown() override {
    DeleteModule();
    IntegrationFixture::TearDown();
  }
  IIPCapabilityQuery* CreateModule(std::uint32_t flag = 0) {
    DeleteModule();
    notifier = std::make_unique<CapabilityNotifier>();
    results = std::make_unique<CapabilityResultSink>();
    return module = library.Exports().CreateCapabilityQueryModule(notifier.get(), flag);
  }
  void DeleteModule() {
    if (module != nullptr) library.Exports().DeleteCapabilityQueryModule(module);
    module = nullptr;
  }
  std::uint32_t Start(quorvel::ipcapture::ICapabilityResultSink* sink = nullptr) {
    return module->Start("127.0.0.1", simulator->Port(), "admin", "admin", sink != nullptr ? sink : results.get());
  }
  QueryOutcome WaitOutcome() {
    if (!notifier->Outcomes().WaitForCount(1, kQueryDeadline)) return {QueryOutcome::kKilled, -1, "no outcome"};
    return notifier->Outcomes().Snapshot().front();
  }

  // On the heap: a test frees the notifier while an abandoned fetch runs.
  std::unique_ptr<CapabilityNotifier> notifier = std::make_unique<CapabilityNotifier>();
  std::unique_ptr<CapabilityResultSink> results = std::make_unique<CapabilityResultSink>();
  IIPCapabilityQuery* module = nullptr;
};

TEST_F(CapabilityQueryTest, CompletedQueryWritesTheSiteAsParametersAndCapabilities) {
  struct Case {
    const char* name;
    std::function<void(sim::Scenario&)> site;
    std::uint32_t flag, channels;  // flag: the video standard
    std::vector<std::string> channelParameters;  // between the two leading words and the I/O
    std::vector<std::string> names;              // index, name, per object
  };
  const std::vector<Case> cases = {
      {"fewer streams granted than cameras",
       [](sim::Scenario& s) { s.profiles[0].cameras.resize(3), s.realtime_streams = 2; },
       0, 2, {"0;cam-1;0;Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0",
              "1;cam-2;1;Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=0, Unzoom=0, AreaZoom=0, Preset=255"},
       {"1 Device Video Standard 0", "2 Kalmeno Version 0", "3 Channel 1 1", "4 Channel 2 1", "5 Input 0 1",
        "6 Input 1 1", "7 Output 0 1", "8 Output 1 1"}},
      {"a level 2 Gateway without cameras",
       [](sim::Scenario& s) { s.profiles[0].cameras.clear(), s.realtime_streams = 4, s.level2 = true; },
       1, 4, {},
       {"1 Device Video Standard 0", "2 Kalmeno Version 0", "3 Input 0 1", "4 Input 1 1", "5 Output 0 1",
        "6 Output 1 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Scenario s = sim::DefaultScenario();
    c.site(s);
    StartSimulator(s);
    ASSERT_NE(CreateModule(c.flag), nullptr);
    ASSERT_EQ(Start(), 1u);
    ASSERT_EQ(WaitOutcome().kind, QueryOutcome::kCompleted);
    const std::string version = s.level2 ? "2" : "3";
    std::vector<std::string> expected = {std::to_string(c.flag), version}, names;
    expected.insert(expected.end(), c.channelParameters.begin(), c.channelParameters.end());
    expected.insert(expected.end(), {"0;in-1", "1;in-2", "0;out-1", "1;out-2"});
    EXPECT_EQ(results->CustomParameters(), expected);
    for (const host::CapabilityParameter& p : results->Parameters()) {
      names.push_back(std::to_string(p.index) + " " + p.name + " " + std::to_string(p.perObject));
    }
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(results->InfoItems().at(2), std::to_string(simulator->Port()));
    std::map<std::uint32_t, std::uint32_t> caps = {{0, c.channels}, {1, 1}, {2, 2}, {3, 2}, {7, 1}, {11, 0}, {12, 0}};
    if (!s.level2) caps[8] = 1;  // codec kind 1 needs level 3
    EXPECT_EQ(results->Capabilities(), caps);
  }
}

TEST_F(CapabilityQueryTest, FailedQueriesReportTheirStatusAndText) {
  struct Case {
    const char* name;
    std::string settings, password, address;
    bool nullSink;
    int status;
    std::string message;
    bool connects;
  };
  const std::string refused = "Failed to get camera properties, login failed (invalid credentials)";
  const std::string invalid = "Failed to start capability fetching thread. Device address is invalid!";
  const std::vector<Case> cases = {
      {"wrong password", kSettings, "wrong", "127.0.0.1", false, 1, refused, true},
      {"no resolutions", "<Configuration><Common><Profile>service</Profile></Common></Configuration>",
       "admin", "127.0.0.1", false, 3, "Failed to save capability query results", true},
      {"address with a port", kSettings, "admin", "127.0.0.1:80", false, 0, invalid, false},
      {"no result sink", kSettings, "admin", "127.0.0.1", true, 3,
       "Failed to start capability fetching thread. Internal error occurs", false},
  };
  StartSimulator();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    home.Write(c.settings);
    simulator->ClearRequests();
    const std::uint64_t accepted = simulator->ConnectionsAccepted();
    ASSERT_NE(CreateModule(), nullptr);
    ASSERT_EQ(module->Start(c.address.c_str(), simulator->Port(), "admin", c.password.c_str(),
                            c.nullSink ? nullptr : results.get()), 1u);
    const QueryOutcome outcome = WaitOutcome();
    EXPECT_EQ(outcome.kind, QueryOutcome::kFailed);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(simulator->ConnectionsAccepted() > accepted, c.connects);
    // Whatever failed, a session that logged on or tried to logs off.
    EXPECT_EQ(simulator->WaitForRequest("user/logoff", nullptr, c.connects ? 5s : 0s).has_value(), c.connects);
    EXPECT_EQ(simulator->CountRequests("user/profile") > 0, c.connects && c.status == 3);
    for (const std::string& call : results->Calls()) EXPECT_NE(call.rfind("AddParameter", 0), 0u);
  }
}

TEST_F(CapabilityQueryTest, TerminateCutsAnUnansweredPtzRoundShort) {
  sim::Scenario s = sim::DefaultScenario();
  for (sim::SimCamera& camera : s.profiles[0].cameras) camera.ptz = true;
  StartSimulator(s);
  for (const sim::SimCamera& camera : s.profiles[0].cameras) simulator->SetNeverTakeover(camera.pid, true);
  ASSERT_NE(CreateModule(), nullptr);
  ASSERT_EQ(Start(), 1u);
  ASSERT_TRUE(simulator->WaitForRequest("camera/ptz/takeover", nullptr, 10s).has_value());
  const auto start = std::chrono::steady_clock::now();
  module->Terminate();
  const QueryOutcome outcome = WaitOutcome();
  // Four unanswered domes would take 20 s; the abort ends the wait within
  // one poll (2 s allows for the sanitizers).
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(outcome.kind, QueryOutcome::kFailed);
  EXPECT_EQ(outcome.status, 3);
  EXPECT_EQ(outcome.message, "Failed to get camera properties");
  EXPECT_EQ(simulator->CountRequests("camera/ptz/takeover"), 1u);
  EXPECT_TRUE(simulator->WaitForRequest("user/logoff", nullptr, 5s).has_value());
  EXPECT_TRUE(results->Calls().empty());
}

class HangingSink : public CapabilityResultSink {
 public:
  void SetDeviceName(const char* name) override {
    entered = true;
    WaitUntil([this] { return released.load(); }, 60000);
    CapabilityResultSink::SetDeviceName(name);
    left = true;  // the last touch: the test may free the sink from here on
  }
  std::atomic<bool> entered{false}, released{false}, left{false};
};

// The only slow case: the module waits twice the device's connection
// time-out, a fixed 5 s, for a fetch before it gives the fetch up.
TEST_F(CapabilityQueryTest, DestroyingAModuleWhoseFetchHangsAbandonsItAndReportsKilled) {
  StartSimulator();
  auto hanging = std::make_unique<HangingSink>();
  ASSERT_NE(CreateModule(), nullptr);
  ASSERT_EQ(Start(hanging.get()), 1u);
  ASSERT_TRUE(WaitUntil([&] { return hanging->entered.load(); }, 20000));

  const auto start = std::chrono::steady_clock::now();
  DeleteModule();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 9500ms);
  EXPECT_LT(took, 15s);
  const auto outcomes = notifier->Outcomes().Snapshot();
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].kind, QueryOutcome::kKilled);

  // Once released, the abandoned fetch may touch neither the freed module
  // nor the freed notifier; the sanitizer builds check that.
  notifier.reset();
  hanging->released = true;
  ASSERT_TRUE(WaitUntil([&] { return hanging->left.load(); }));
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= baselineThreads; }))
      << ThreadCount() << " threads, " << baselineThreads << " before";
  EXPECT_EQ(hanging->Calls(), std::vector<std::string>{"SetDeviceName Gateway 127.0.0.1"});
}

TEST_F(CapabilityQueryTest, ProcessWideQueryFollowsInitStartTerminateUninit) {
  const host::DriverExports& x = library.Exports();
  StartSimulator();
  const std::uint16_t port = simulator->Port();
  EXPECT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", "admin", results.get()), 0u);
  EXPECT_EQ(x.TerminateCapabilityQuery(), 1u);
  EXPECT_EQ(x.UninitCapabilityQuery(), 1u);

  ASSERT_EQ(x.InitCapabilityQuery(notifier.get(), 0), 1u);
  CapabilityNotifier other;
  EXPECT_EQ(x.InitCapabilityQuery(&other, 0), 0u);
  // Refused arguments start nothing, so the module stays usable.
  EXPECT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", nullptr, results.get()), 0u);
  EXPECT_EQ(x.StartCapabilityQuery(nullptr, port, "admin", "admin", results.get()), 0u);
  ASSERT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", "admin", results.get()), 1u);
  ASSERT_EQ(WaitOutcome().kind, QueryOutcome::kCompleted);
  EXPECT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", "admin", results.get()), 0u);
  EXPECT_EQ(notifier->Outcomes().Size(), 1u);  // one fetch per module
  EXPECT_EQ(other.Outcomes().Size(), 0u);      // the first module stayed in place
  EXPECT_EQ(x.TerminateCapabilityQuery(), 1u);
  EXPECT_EQ(x.UninitCapabilityQuery(), 1u);
  EXPECT_EQ(x.InitCapabilityQuery(&other, 1), 1u);  // the place is free again
  EXPECT_EQ(x.UninitCapabilityQuery(), 1u);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
