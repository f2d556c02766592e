// The automatic-search query as a host runs it: the real library loaded by
// the test host, its capability exports and modules, against the Gateway
// simulator. What the query writes into the result sink must open a driver
// for the same device.
#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "capability_sink.h"
#include "integration/driver_fixture.h"

namespace strevon {
namespace integration {
namespace {

using host::CapabilityNotifier;
using host::CapabilityParameter;
using host::CapabilityResultSink;
using host::QueryOutcome;
using quorvel::ipcapture::IIPCapabilityQuery;

// Generous against a fetch that normally ends within a second: the
// sanitizer builds are slow.
constexpr auto kQueryDeadline = 20s;

const char kSettings[] =
    "<Configuration><Common><Profile>service</Profile>"
    "<Resolutions><Item>640x480</Item><Item>1280x720</Item><Item>640x480</Item></Resolutions>"
    "</Common></Configuration>";

const char kFetchFailed[] = "Failed to get camera properties";

class CapabilityQueryTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    WriteSettings(kSettings);
  }

  void TearDown() override {
    DeleteModule();
    DriverFixture::TearDown();
  }

  IIPCapabilityQuery* CreateModule(std::uint32_t flag = 0) {
    module = library.Exports().CreateCapabilityQueryModule(&Notifier(), flag);
    return module;
  }

  void DeleteModule() {
    if (module != nullptr) library.Exports().DeleteCapabilityQueryModule(module);
    module = nullptr;
  }

  std::uint32_t StartQuery(const std::string& user = "admin", const std::string& password = "admin",
                           CapabilityResultSink* resultSink = nullptr) {
    return module->Start("127.0.0.1", simulator->Port(), user.c_str(), password.c_str(),
                         resultSink != nullptr ? resultSink : m_results.get());
  }

  // The one outcome of the fetch; kKilled with status -1 when none came.
  QueryOutcome WaitOutcome() {
    if (!Notifier().Outcomes().WaitForCount(1, kQueryDeadline)) {
      return QueryOutcome{QueryOutcome::kKilled, -1, "no outcome"};
    }
    return Notifier().Outcomes().Snapshot().front();
  }

  // A whole query with a fresh module and sink against the running
  // simulator; true when it completed.
  bool RunQuery(std::uint32_t flag = 0) {
    DeleteModule();
    m_notifier = std::make_unique<CapabilityNotifier>();
    m_results = std::make_unique<CapabilityResultSink>();
    if (CreateModule(flag) == nullptr || StartQuery() != 1) return false;
    const QueryOutcome outcome = WaitOutcome();
    EXPECT_EQ(outcome.kind, QueryOutcome::kCompleted) << outcome.status << " " << outcome.message;
    return outcome.kind == QueryOutcome::kCompleted;
  }

  std::map<std::uint32_t, CapabilityParameter> ParametersByIndex() const {
    std::map<std::uint32_t, CapabilityParameter> out;
    for (const CapabilityParameter& p : m_results->Parameters()) out[p.index] = p;
    return out;
  }

  CapabilityNotifier& Notifier() { return *m_notifier; }
  CapabilityResultSink& Results() { return *m_results; }

  // On the heap, so that a test can free the notifier while an abandoned
  // fetch still runs, and start over with fresh ones.
  std::unique_ptr<CapabilityNotifier> m_notifier = std::make_unique<CapabilityNotifier>();
  std::unique_ptr<CapabilityResultSink> m_results = std::make_unique<CapabilityResultSink>();
  IIPCapabilityQuery* module = nullptr;
};

std::vector<std::string> CallsStartingWith(const std::vector<std::string>& calls,
                                           const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& c : calls) {
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  }
  return out;
}

TEST_F(CapabilityQueryTest, ResultsOpenADriverForTheSameDevice) {
  StartSimulator();
  ASSERT_TRUE(RunQuery(0));

  // Exactly what a driver needs at Open for the simulator's site.
  EXPECT_EQ(Results().CustomParameters(), CustomParametersFor(scenario));
  const auto params = ParametersByIndex();
  const std::vector<std::pair<std::uint32_t, std::string>> names = {
      {1, "Device Video Standard"}, {2, "Kalmeno Version"}, {3, "Channel 1"}, {6, "Channel 4"},
      {7, "Input 0"},  {8, "Input 1"},  {9, "Output 0"}, {10, "Output 1"}};
  for (const auto& expected : names) {
    SCOPED_TRACE(expected.second);
    ASSERT_EQ(params.count(expected.first), 1u);
    EXPECT_EQ(params.at(expected.first).name, expected.second);
    EXPECT_EQ(params.at(expected.first).perObject, expected.first <= 2 ? 0u : 1u);
    EXPECT_EQ(params.at(expected.first).option, 0u);
  }
  EXPECT_EQ(params.size(), 10u);

  EXPECT_EQ(Results().DeviceName(), "Gateway 127.0.0.1");
  const std::map<std::uint32_t, std::string> items = {
      {1, "127.0.0.1"}, {2, std::to_string(simulator->Port())}, {3, "admin"}, {4, "admin"}};
  EXPECT_EQ(Results().InfoItems(), items);
  const std::map<std::uint32_t, std::uint32_t> caps = {{0, 4}, {1, 1}, {2, 2},  {3, 2},
                                                       {7, 1}, {8, 1}, {11, 0}, {12, 0}};
  EXPECT_EQ(Results().Capabilities(), caps);

  EXPECT_TRUE(simulator->WaitForRequest("user/logoff", nullptr, 5s).has_value());

  host::DeviceConfig device = DefaultDevice();
  device.customParameters = Results().CustomParameters();
  ASSERT_TRUE(OpenDriver(device));
  EXPECT_TRUE(WaitConnected());
}

TEST_F(CapabilityQueryTest, ChannelCountFollowsCamerasAndGrantedStreams) {
  struct Case {
    std::size_t cameras;
    int streams;
    std::uint32_t channels;
    std::vector<std::pair<std::uint32_t, std::string>> names;  // index, name
    std::uint32_t firstInputIndex;
  };
  const std::vector<Case> cases = {
      {3, 2, 2, {{3, "Channel 1"}, {4, "Channel 2"}}, 5},
      {0, 4, 4, {}, 3},
      {3, 0, 3, {{3, "Channel 1"}, {5, "Channel 3"}}, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.cameras) + " cameras, " + std::to_string(c.streams) + " streams");
    sim::Scenario s = sim::DefaultScenario();
    s.profiles[0].cameras.resize(c.cameras);
    s.realtime_streams = c.streams;
    StartSimulator(s);
    ASSERT_TRUE(RunQuery());
    EXPECT_EQ(Results().Capabilities()[0], c.channels);
    const auto params = ParametersByIndex();
    for (const auto& expected : c.names) {
      ASSERT_EQ(params.count(expected.first), 1u) << expected.second;
      EXPECT_EQ(params.at(expected.first).name, expected.second);
    }
    ASSERT_EQ(params.count(c.firstInputIndex), 1u);
    EXPECT_EQ(params.at(c.firstInputIndex).name, "Input 0");
    EXPECT_EQ(params.at(c.firstInputIndex).value, "0;in-1");
    EXPECT_EQ(params.size(), 2u + std::min<std::size_t>(c.cameras, c.channels) + 4u);
  }
}

TEST_F(CapabilityQueryTest, PtzCapabilityStringReflectsTheDomeActions) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Pan,Tilt,Zoom,Focus,Iris",
       "Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=0, Unzoom=0, AreaZoom=0, Preset=255"},
      {"AreaZoom,Unzoom,Center",
       "Pan=1, Tilt=1, Zoom=1, Focus=0, Iris=0, Center=1, Unzoom=1, AreaZoom=1, Preset=255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    sim::Scenario s = sim::DefaultScenario();
    s.profiles[0].cameras[1].actions = c.first;
    StartSimulator(s);
    ASSERT_TRUE(RunQuery());
    const auto params = ParametersByIndex();
    EXPECT_EQ(params.at(4).value, "1;cam-2;1;" + c.second);
    EXPECT_EQ(params.at(3).value,
              "0;cam-1;0;Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, "
              "AreaZoom=0, Preset=0");
  }
}

TEST_F(CapabilityQueryTest, VideoStandardSetsEveryIntervalAndDuplicateSizesCountOnce) {
  StartSimulator();
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> cases = {{1, 33}, {0, 40}};
  for (const auto& c : cases) {
    SCOPED_TRACE("flag " + std::to_string(c.first));
    ASSERT_TRUE(RunQuery(c.first));
    const auto resolutions = Results().Resolutions();
    ASSERT_EQ(resolutions.size(), 2u);
    EXPECT_EQ(resolutions[0].text, "640x480");
    EXPECT_EQ(resolutions[0].width, 640u);
    EXPECT_EQ(resolutions[0].height, 480u);
    EXPECT_EQ(resolutions[1].text, "1280x720");
    for (const auto& r : resolutions) EXPECT_EQ(r.intervalMs, c.second) << r.text;
    EXPECT_EQ(Results().FrameIntervals(), std::vector<std::uint32_t>{c.second});
    EXPECT_EQ(Results().DefaultFrameInterval(), c.second);
    EXPECT_EQ(Results().CustomParameters().at(0), std::to_string(c.first));
  }
}

TEST_F(CapabilityQueryTest, NoResolutionsFailTheSave) {
  WriteSettings("<Configuration><Common><Profile>service</Profile></Common></Configuration>");
  StartSimulator();
  ASSERT_NE(CreateModule(), nullptr);
  ASSERT_EQ(StartQuery(), 1u);
  const QueryOutcome outcome = WaitOutcome();
  EXPECT_EQ(outcome.kind, QueryOutcome::kFailed);
  EXPECT_EQ(outcome.status, 3);
  EXPECT_EQ(outcome.message, "Failed to save capability query results");
  EXPECT_TRUE(CallsStartingWith(Results().Calls(), "AddResolution").empty());
  EXPECT_TRUE(CallsStartingWith(Results().Calls(), "AddParameter").empty());
}

TEST_F(CapabilityQueryTest, RefusedLogOnReportsInvalidCredentialsAndStillLogsOff) {
  StartSimulator();
  const std::vector<std::pair<std::string, std::string>> cases = {{"admin", "wrong"},
                                                                  {"nobody", "admin"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first + "/" + c.second);
    simulator->ClearRequests();
    DeleteModule();
    m_notifier = std::make_unique<CapabilityNotifier>();
    ASSERT_NE(CreateModule(), nullptr);
    ASSERT_EQ(StartQuery(c.first, c.second), 1u);
    const QueryOutcome outcome = WaitOutcome();
    EXPECT_EQ(outcome.kind, QueryOutcome::kFailed);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.message, std::string(kFetchFailed) + ", login failed (invalid credentials)");
    EXPECT_TRUE(simulator->WaitForRequest("user/logoff", nullptr, 5s).has_value());
    EXPECT_EQ(simulator->CountRequests("user/profile"), 0u);
  }
  EXPECT_TRUE(Results().Calls().empty());
}

TEST_F(CapabilityQueryTest, AddressWithAPortOrOtherSignsIsRefusedWithoutConnecting) {
  StartSimulator();
  const std::string withPort = "127.0.0.1:" + std::to_string(simulator->Port());
  for (const std::string& address : {withPort, std::string("gate@way"), std::string("a/b")}) {
    SCOPED_TRACE(address);
    DeleteModule();
    m_notifier = std::make_unique<CapabilityNotifier>();
    ASSERT_NE(CreateModule(), nullptr);
    ASSERT_EQ(module->Start(address.c_str(), simulator->Port(), "admin", "admin", &Results()), 1u);
    const QueryOutcome outcome = WaitOutcome();
    EXPECT_EQ(outcome.kind, QueryOutcome::kFailed);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.message,
              "Failed to start capability fetching thread. Device address is invalid!");
  }
  EXPECT_EQ(simulator->ConnectionsAccepted(), 0u);
}

TEST_F(CapabilityQueryTest, NullSinkStartsTheThreadAndReportsAnInternalError) {
  StartSimulator();
  ASSERT_NE(CreateModule(), nullptr);
  ASSERT_EQ(module->Start("127.0.0.1", simulator->Port(), "admin", "admin", nullptr), 1u);
  const QueryOutcome outcome = WaitOutcome();
  EXPECT_EQ(outcome.kind, QueryOutcome::kFailed);
  EXPECT_EQ(outcome.status, 3);
  EXPECT_EQ(outcome.message, "Failed to start capability fetching thread. Internal error occurs");
  EXPECT_EQ(simulator->ConnectionsAccepted(), 0u);
}

TEST_F(CapabilityQueryTest, Level2GatewayCountsAsVersion2AndOffersNoCodecKind1) {
  sim::Scenario s = sim::DefaultScenario();
  s.level2 = true;
  StartSimulator(s);
  ASSERT_TRUE(RunQuery());
  EXPECT_EQ(Results().CustomParameters().at(1), "2");
  const auto caps = Results().Capabilities();
  EXPECT_EQ(caps.count(8), 0u);
  EXPECT_EQ(caps.at(7), 1u);
  EXPECT_EQ(caps.at(0), 4u);
  // The probe always announces the full agent; the session then speaks
  // level 2 with its own.
  std::vector<std::string> agents;
  for (const sim::RequestRecord& r : simulator->Requests()) {
    if (r.command == "user/authenticate") agents.push_back(r.Param("user-agent"));
  }
  EXPECT_EQ(agents, (std::vector<std::string>{"Gateway SDK / Kalmeno 3.0",
                                              "Gateway SDK / Kalmeno 2.0"}));
  EXPECT_EQ(Results().CustomParameters().size(), 10u);
}

TEST_F(CapabilityQueryTest, OneFetchPerModule) {
  StartSimulator();
  ASSERT_NE(CreateModule(), nullptr);
  // Refused arguments start nothing, so the module stays usable.
  EXPECT_EQ(module->Start("127.0.0.1", simulator->Port(), "admin", nullptr, &Results()), 0u);
  EXPECT_EQ(module->Start(nullptr, simulator->Port(), "admin", "admin", &Results()), 0u);
  ASSERT_EQ(StartQuery(), 1u);
  EXPECT_EQ(StartQuery(), 0u);
  EXPECT_EQ(WaitOutcome().kind, QueryOutcome::kCompleted);
  EXPECT_EQ(StartQuery(), 0u);
  EXPECT_EQ(Notifier().Outcomes().Size(), 1u);
}

TEST_F(CapabilityQueryTest, TerminateCutsAnUnansweredPtzRoundShort) {
  sim::Scenario s = sim::DefaultScenario();
  for (sim::SimCamera& camera : s.profiles[0].cameras) camera.ptz = true;
  StartSimulator(s);
  for (const sim::SimCamera& camera : s.profiles[0].cameras) {
    simulator->SetNeverTakeover(camera.pid, true);
  }
  ASSERT_NE(CreateModule(), nullptr);
  ASSERT_EQ(StartQuery(), 1u);
  ASSERT_TRUE(simulator->WaitForRequest("camera/ptz/takeover", nullptr, 10s).has_value());

  const auto start = std::chrono::steady_clock::now();
  module->Terminate();
  const QueryOutcome outcome = WaitOutcome();
  // Four unanswered domes would take 20 s; the abort ends the wait within
  // one poll (2 s allows for the sanitizers).
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(outcome.kind, QueryOutcome::kFailed);
  EXPECT_EQ(outcome.status, 3);
  EXPECT_EQ(outcome.message, kFetchFailed);
  EXPECT_EQ(simulator->CountRequests("camera/ptz/takeover"), 1u);
  EXPECT_TRUE(simulator->WaitForRequest("user/logoff", nullptr, 5s).has_value());
  EXPECT_TRUE(Results().Calls().empty());
}

// A host sink that hangs in its first call until the test lets it go.
class HangingSink : public CapabilityResultSink {
 public:
  void SetDeviceName(const char* name) override {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_entered = true;
    m_changed.notify_all();
    m_changed.wait_for(lock, 60s, [this] { return m_released; });
    lock.unlock();
    CapabilityResultSink::SetDeviceName(name);
    // Told under the lock, so that the test may free this sink once it saw
    // the call end: the detached thread is never joined.
    lock.lock();
    m_left = true;
    m_changed.notify_all();
  }
  bool WaitEntered(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_entered; });
  }
  bool WaitLeft(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_left; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_entered = false;
  bool m_released = false;
  bool m_left = false;
};

TEST_F(CapabilityQueryTest, DestroyingAModuleWhoseFetchHangsAbandonsItAndReportsKilled) {
  StartSimulator();
  auto hanging = std::make_unique<HangingSink>();
  ASSERT_NE(CreateModule(), nullptr);
  ASSERT_EQ(StartQuery("admin", "admin", hanging.get()), 1u);
  ASSERT_TRUE(hanging->WaitEntered(kQueryDeadline));

  const auto start = std::chrono::steady_clock::now();
  DeleteModule();
  const auto took = std::chrono::steady_clock::now() - start;
  // Twice the connection time-out, 10 s, and not much more.
  EXPECT_GE(took, 9500ms);
  EXPECT_LT(took, 15s);
  const auto outcomes = Notifier().Outcomes().Snapshot();
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].kind, QueryOutcome::kKilled);

  // The abandoned fetch may touch neither the freed module nor the freed
  // notifier once the host call it is stuck in returns; the sanitizer
  // builds check that.
  m_notifier.reset();
  hanging->Release();
  ASSERT_TRUE(hanging->WaitLeft(10s));
  EXPECT_TRUE(Eventually([&] { return ThreadCount() <= baselineThreads; }, 10s))
      << ThreadCount() << " threads, " << baselineThreads << " before";
  EXPECT_EQ(hanging->Calls(), std::vector<std::string>{"SetDeviceName Gateway 127.0.0.1"});
}

TEST_F(CapabilityQueryTest, ProcessWideQueryFollowsInitStartTerminateUninit) {
  const host::DriverExports& x = library.Exports();
  StartSimulator();
  const std::uint16_t port = simulator->Port();
  EXPECT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", "admin", &Results()), 0u);
  EXPECT_EQ(x.TerminateCapabilityQuery(), 1u);
  EXPECT_EQ(x.UninitCapabilityQuery(), 1u);

  ASSERT_EQ(x.InitCapabilityQuery(&Notifier(), 0), 1u);
  CapabilityNotifier other;
  EXPECT_EQ(x.InitCapabilityQuery(&other, 0), 0u);
  EXPECT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", nullptr, &Results()), 0u);
  ASSERT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", "admin", &Results()), 1u);
  ASSERT_EQ(WaitOutcome().kind, QueryOutcome::kCompleted);
  EXPECT_EQ(other.Outcomes().Size(), 0u);  // the first module stayed in place
  EXPECT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", "admin", &Results()), 0u);
  EXPECT_EQ(x.TerminateCapabilityQuery(), 1u);
  EXPECT_EQ(x.UninitCapabilityQuery(), 1u);

  // A fresh module runs a fresh query.
  ASSERT_EQ(x.InitCapabilityQuery(&other, 1), 1u);
  CapabilityResultSink second;
  ASSERT_EQ(x.StartCapabilityQuery("127.0.0.1", port, "admin", "admin", &second), 1u);
  ASSERT_TRUE(other.Outcomes().WaitForCount(1, kQueryDeadline));
  EXPECT_EQ(other.Outcomes().Snapshot().front().kind, QueryOutcome::kCompleted);
  EXPECT_EQ(second.CustomParameters().at(0), "1");
  EXPECT_EQ(x.UninitCapabilityQuery(), 1u);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
