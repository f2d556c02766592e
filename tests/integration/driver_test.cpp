// The driver opened by a host against the simulated Gateway.
#include <algorithm>

#include "infra/text_helpers.h"
#include "integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

using DriverTest = IntegrationFixture;
using quorvel::ToLower;

// The password, the digest keys the Gateway handed out and the digests the
// driver sent never reach the sink or the log file, at the most talkative
// settings, neither for refused log-ons nor for the one that succeeds.
TEST_F(DriverTest, RefusedLogOnRetriesAboutOnceASecondAndNoSecretIsLogged) {
  const std::string wrong = "Wr0ng-pw!Audit";
  const std::string right = "Sec-r3t!pw#Audit";
  sim::Scenario s = sim::DefaultScenario();
  s.users.push_back({"auditor", right, s.users.at(0).profiles, true});
  home.Write("<Configuration><Common><Profile>service</Profile><LogLevel>100</LogLevel>"
             "<DebugEnabled>yes</DebugEnabled></Common></Configuration>");
  ASSERT_NO_FATAL_FAILURE(StartSimulator(s));
  const auto asAuditor = [&](const std::string& password) {
    host::DeviceConfig d = DefaultDevice();
    d.userName = "auditor";
    d.password = password;
    return d;
  };
  ASSERT_TRUE(OpenDriver(asAuditor(wrong)));
  EXPECT_TRUE(sink.Contains("DRIVER IS OPENED (name: Strevon, device model: Strevon Gateway, "
                            "Kalmeno: 3, address: 127.0.0.1:"));
  ASSERT_TRUE(WaitUntil([&] { return simulator->CountRequests("user/logon") >= 2; }));
  const int threadsAfterTwo = ThreadCount();
  ASSERT_TRUE(WaitUntil([&] { return simulator->CountRequests("user/logon") >= 3; }));
  std::vector<std::uint64_t> ms;  // of each attempt
  for (const sim::RequestRecord& r : simulator->Requests()) {
    if (r.command == "user/logon") ms.push_back(r.mono_ns / 1000000);
  }
  for (std::size_t i = 1; i < ms.size(); ++i) {
    EXPECT_GE(ms[i] - ms[i - 1], 800u) << "hammering";
    EXPECT_LE(ms[i] - ms[i - 1], 4000u) << "growing back-off";
  }
  EXPECT_EQ(simulator->CountRequests("user/profile"), 0u) << "refused log-on counted as connected";
  EXPECT_LE(ThreadCount(), threadsAfterTwo + 1);
  EXPECT_LE(simulator->ActiveConnections(), 1u);
  DestroyDriver();
  // Then the right password, as after the user fixed it.
  ASSERT_TRUE(OpenDriver(asAuditor(right)));
  ASSERT_TRUE(WaitConnected());
  DestroyDriver();

  std::string logged;
  for (const host::DebugLine& line : sink.Lines().Snapshot()) logged += line.text + "\n";
  const std::string file = home.Read("Strevon.log");
  ASSERT_FALSE(file.empty()) << "no log file in " << home.Path();
  logged = ToLower(logged + file);
  std::vector<std::string> secrets = {wrong, right};
  for (const std::string& key : simulator->DigestKeysSent()) secrets.push_back(key);
  std::size_t digests = 0;
  for (const sim::RequestRecord& r : simulator->Requests()) {
    if (r.command != "user/logon") continue;
    ASSERT_EQ(r.Param("pass").size(), 40u);
    ++digests;
    secrets.push_back(r.Param("pass"));
    secrets.push_back(r.Param("pass").substr(0, 20));  // a line cut in half
  }
  EXPECT_GE(digests, 4u);
  EXPECT_GE(secrets.size(), 2 + 4 + 2 * digests);
  for (const std::string& secret : secrets) {
    EXPECT_EQ(logged.find(ToLower(secret)), std::string::npos) << secret << " was logged";
  }
}

TEST_F(DriverTest, OpenNeedsAUsableKalmenoVersion) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator());
  for (const char* version : {"", "0", "abc", "missing"}) {
    SCOPED_TRACE(version);
    host::DeviceConfig device = DefaultDevice();
    if (std::string(version) == "missing") {
      device.customParameters.resize(1);
    } else {
      device.customParameters[1] = version;
    }
    EXPECT_FALSE(OpenDriver(device));
    EXPECT_TRUE(sink.Contains("quorvel::CStrevonDriver::Open: Open driver failed!"));
    DestroyDriver();
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= baselineThreads; }, kShutdownMs));
  }
  EXPECT_EQ(simulator->ConnectionsAccepted(), 0u);
}

TEST_F(DriverTest, CloseReturnsPromptlyWhileTheGatewayIsAwayOrSilent) {
  for (bool listening : {false, true}) {
    SCOPED_TRACE(listening ? "log-on never answered" : "nobody listens");
    ASSERT_NO_FATAL_FAILURE(StartSimulator());
    simulator->SetNeverAnswer("user/logon", true);
    const host::DeviceConfig device = DefaultDevice();
    if (!listening) simulator->Stop();
    ASSERT_TRUE(OpenDriver(device));
    EXPECT_TRUE(!listening || simulator->WaitForRequest("user/logon", nullptr, 10s).has_value());
    const auto start = std::chrono::steady_clock::now();
    driver->Close();
    EXPECT_LT(quorvel::test_support::ElapsedMs(start), 1000);
    DestroyDriver();
  }
}

// The driver logs on, subscribes to events and reads its profile, in that
// order. After Close the host hears nothing but the debug sink: no frame, no
// input report, while the connection lives on long enough to log off.
TEST_F(DriverTest, ConnectsInOrderAndAfterCloseNoHostCallbackFollows) {
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras()));
  std::vector<std::string> commands;
  for (const sim::RequestRecord& r : simulator->Requests()) commands.push_back(r.command);
  commands.resize(std::min<std::size_t>(commands.size(), 4));
  EXPECT_EQ(commands, (std::vector<std::string>{"user/authenticate", "user/logon",
                                                "recorder/event/subscribe", "user/profile"}));
  ASSERT_TRUE(io->SetIOCallback(&ioCallback));
  ASSERT_TRUE(io->StartIO());
  ASSERT_NO_FATAL_FAILURE(StartChannels({0, 1}));
  EXPECT_TRUE(InputEventReachesHost("in-1"));

  const std::uint64_t mark = Mark();
  const auto start = std::chrono::steady_clock::now();
  driver->Close();
  const std::uint64_t frames = handlers[0].FrameCount() + handlers[1].FrameCount();
  const std::size_t reports = ioCallback.Reports().Size();
  EXPECT_LT(quorvel::test_support::ElapsedMs(start), 6000);
  EXPECT_EQ(driver->GetCaptureIO(), nullptr);
  EXPECT_EQ(driver->GetVideoCapture(), nullptr);
  EXPECT_EQ(driver->GetPTZDriver(), nullptr);
  EXPECT_TRUE(WaitForChannelRequest("video/realtime/unsubscribe", 0, mark).has_value());
  EXPECT_TRUE(WaitForChannelRequest("video/realtime/unsubscribe", 1, mark).has_value());
  EXPECT_TRUE(simulator->WaitForRequest("user/logoff", nullptr, 5s).has_value());
  simulator->SetInput("in-1", false);
  // Waits for what must not happen, bounded: one event round trip.
  EXPECT_FALSE(ioCallback.Reports().WaitForCount(reports + 1, 300ms));
  DestroyDriver();
  EXPECT_EQ(handlers[0].FrameCount() + handlers[1].FrameCount(), frames) << "a frame after Close";
  EXPECT_EQ(allocator.Outstanding(), 0u);
  EXPECT_EQ(allocator.Violations(), 0u);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
