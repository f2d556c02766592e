#include "session/profile_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "gateway/client_message.h"
#include "infra/event.h"
#include "infra/test_support.h"
#include "session/session_test_support.h"

namespace quorvel {
namespace {

using session_test::MakeMessage;
using session_test::ScenarioWithoutLogOn;
using session_test::SimulatedGateway;
using testing_support::TempHome;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Runs ReadProfile against a Gateway that records the request but never
// answers it, and answers it here with the given body instead. No settings
// file: the profile requested is "service".
class ProfileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gateway.sim.SetNeverAnswer("user/profile", true);
    ASSERT_TRUE(gateway.Connect("admin", "admin"));
  }

  bool ReadWithReply(const std::string& body) {
    auto result = std::async(std::launch::async, [&] { return reader.ReadProfile(); });
    auto request = gateway.sim.WaitForRequest("user/profile");
    EXPECT_TRUE(request.has_value());
    if (request) {
      EXPECT_EQ(request->raw_text, "user/profile?name=service");
    }
    ServerMessage reply = MakeMessage({{"Response", "user/profile"}, {"Status", "OK"}}, body);
    reader.ProcessServerMessage(reply);
    EXPECT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    return result.get();
  }

  void FeedPtzProperties(const std::string& pid, const std::string& body) {
    ServerMessage reply = MakeMessage(
        {{"Response", "camera/ptz/properties"}, {"Pid", pid}, {"Status", "OK"}}, body);
    reader.ProcessServerMessage(reply);
  }

  TempHome home;
  SimulatedGateway gateway{ScenarioWithoutLogOn()};
  CProfileReader reader{&gateway.client};
};

TEST_F(ProfileReaderTest, CameraStateFilterKeepsPositionsAsIds) {
  ASSERT_TRUE(ReadWithReply(
      "<Profile name=\"service\"><Cameras>"
      "<Camera state=\"OK\" pid=\"a\"/>"
      "<PtzCamera state=\"offline\" pid=\"b\"/>"
      "<PtzCamera state=\"NoSignal\" pid=\"c\"/>"
      "</Cameras></Profile>"));
  const std::vector<CameraRecord> cameras = reader.GetCameras();
  ASSERT_EQ(cameras.size(), 2u);
  EXPECT_EQ(cameras[0].id, 0u);
  EXPECT_EQ(cameras[0].pid, "a");
  EXPECT_FALSE(cameras[0].ptz);
  EXPECT_EQ(cameras[1].id, 2u);
  EXPECT_EQ(cameras[1].pid, "c");
  EXPECT_TRUE(cameras[1].ptz);
  EXPECT_FALSE(cameras[1].ptzCapabilities.pan);
  EXPECT_EQ(cameras[1].ptzCapabilities.presetCount, 0u);
}

TEST_F(ProfileReaderTest, SkippedElementsStillCountAndIoUsesPositions) {
  ASSERT_TRUE(ReadWithReply(
      "<Profile name=\"service\">"
      "<Group><Camera state=\"ok\"/><Camera state=\"ok\" pid=\"\"/>"
      "<Camera pid=\"no-state\"/><PtzCamera state=\"NOSIGNAL\" pid=\"Dome-1\"/></Group>"
      "<DigitalInputs><DigitalInput pid=\"in-1\"/><DigitalInput/>"
      "<DigitalInput pid=\"in-3\" state=\"broken\"/></DigitalInputs>"
      "<DigitalOutputs><DigitalOutput/><DigitalOutput pid=\"out-2\"/></DigitalOutputs>"
      "</Profile>"));
  const std::vector<CameraRecord> cameras = reader.GetCameras();
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_EQ(cameras[0].id, 3u);
  EXPECT_EQ(cameras[0].pid, "Dome-1");  // case kept
  EXPECT_TRUE(cameras[0].ptz);

  const std::vector<IORecord> inputs = reader.GetInputs();
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[0].id, 0u);
  EXPECT_EQ(inputs[0].pid, "in-1");
  EXPECT_EQ(inputs[1].id, 2u);  // no state test for I/O
  EXPECT_EQ(inputs[1].pid, "in-3");
  const std::vector<IORecord> outputs = reader.GetOutputs();
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(outputs[0].id, 1u);
  EXPECT_EQ(outputs[0].pid, "out-2");
}

// A reply came, so the read counts, but nothing usable was in it.
TEST_F(ProfileReaderTest, RepliesWithoutTheProfileLeaveListsEmpty) {
  const char* bodies[] = {"", "<Profile name=\"service\"", "<Profile name=\"other\"><Camera "
                          "state=\"OK\" pid=\"a\"/></Profile>",
                          "<Profiles><Profile name=\"service\"><Camera state=\"OK\" "
                          "pid=\"a\"/></Profile></Profiles>"};
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    gateway.sim.ClearRequests();
    EXPECT_TRUE(ReadWithReply(body));
    EXPECT_TRUE(reader.GetCameras().empty());
    EXPECT_TRUE(reader.GetInputs().empty());
  }
}

const char kTwoDomes[] =
    "<Profile name=\"service\"><PtzCamera state=\"OK\" pid=\"112\"/>"
    "<PtzCamera state=\"OK\" pid=\"12\"/><Camera state=\"OK\" pid=\"7\"/></Profile>";

TEST_F(ProfileReaderTest, PtzActionsGiveCapabilities) {
  struct Case {
    const char* actions;
    bool zoom, focus, iris, areaZoom, center, unzoom;
  };
  const Case cases[] = {
      {"Zoom,Focus", true, true, false, false, false, false},
      {"areazoom", true, false, false, true, false, false},
      {"UNZOOM", true, false, false, false, false, true},
      {"Pan,Tilt,Iris,Center", false, false, true, false, true, false},
  };
  ASSERT_TRUE(ReadWithReply(kTwoDomes));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.actions);
    FeedPtzProperties("12", std::string("<PtzControl actions=\"") + c.actions + "\"/>");
    const CPtzCapabilities caps = reader.GetCameras()[0].ptzCapabilities;
    EXPECT_TRUE(caps.pan);
    EXPECT_TRUE(caps.tilt);
    EXPECT_EQ(caps.zoom, c.zoom);
    EXPECT_EQ(caps.focus, c.focus);
    EXPECT_EQ(caps.iris, c.iris);
    EXPECT_EQ(caps.areaZoom, c.areaZoom);
    EXPECT_EQ(caps.center, c.center);
    EXPECT_EQ(caps.unzoom, c.unzoom);
    EXPECT_EQ(caps.presetCount, 255u);
  }
}

// The reply's pid is matched as a substring: "12" first matches "112".
TEST_F(ProfileReaderTest, PtzReplyUpdatesFirstCameraContainingPid) {
  ASSERT_TRUE(ReadWithReply(kTwoDomes));
  FeedPtzProperties("12", "<PtzControl actions=\"Zoom\"/>");
  std::vector<CameraRecord> cameras = reader.GetCameras();
  EXPECT_TRUE(cameras[0].ptzCapabilities.zoom);
  EXPECT_FALSE(cameras[1].ptzCapabilities.pan);

  struct Case {
    const char* label;
    const char* pid;
    const char* body;
  };
  const Case unchanged[] = {
      {"empty actions", "112", "<PtzControl actions=\"\"/>"},
      {"no PtzControl", "112", "<Other actions=\"Focus\"/>"},
      {"no body", "112", ""},
      {"not XML", "112", "<PtzControl"},
      {"unknown pid", "99", "<PtzControl actions=\"Focus\"/>"},
  };
  for (const Case& c : unchanged) {
    SCOPED_TRACE(c.label);
    FeedPtzProperties(c.pid, c.body);
    cameras = reader.GetCameras();
    EXPECT_TRUE(cameras[0].ptzCapabilities.zoom);
    EXPECT_FALSE(cameras[0].ptzCapabilities.focus);
    EXPECT_FALSE(cameras[1].ptzCapabilities.pan);
  }
}

TEST(ProfileReaderSettingsTest, EmptyProfileNameSendsNothing) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  std::ofstream(home.Path() + "Strevon.xml")
      << "<Configuration><Common><DebugEnabled>yes</DebugEnabled></Common></Configuration>";
  SimulatedGateway gateway(ScenarioWithoutLogOn());
  ASSERT_TRUE(gateway.Connect("admin", "admin"));
  CProfileReader reader(&gateway.client);
  EXPECT_FALSE(reader.ReadProfile());
  EXPECT_EQ(reader.GetProfileName(), "");
  // Requests are written in order: once a later one arrived, a profile
  // request would have arrived too.
  ASSERT_TRUE(gateway.client.Send(new ClientMessage("user/logoff")));
  ASSERT_TRUE(gateway.sim.WaitForRequest("user/logoff").has_value());
  EXPECT_EQ(gateway.sim.CountRequests("user/profile"), 0u);
}

// Over a real connection with the built-in site.
TEST(ProfileReaderRoundTripTest, ReadsSiteAndPtzProperties) {
  TempHome home;
  SimulatedGateway gateway(ScenarioWithoutLogOn());
  ASSERT_TRUE(gateway.Connect("admin", "admin"));
  CProfileReader reader(&gateway.client);
  ASSERT_TRUE(reader.ReadProfile());
  EXPECT_EQ(reader.GetProfileName(), "service");
  std::vector<CameraRecord> cameras = reader.GetCameras();
  ASSERT_EQ(cameras.size(), 4u);
  EXPECT_EQ(cameras[1].pid, "cam-2");
  EXPECT_TRUE(cameras[1].ptz);
  EXPECT_EQ(cameras[3].id, 3u);
  ASSERT_EQ(reader.GetInputs().size(), 2u);
  EXPECT_EQ(reader.GetInputs()[1].pid, "in-2");
  ASSERT_EQ(reader.GetOutputs().size(), 2u);
  EXPECT_EQ(reader.GetOutputs()[0].pid, "out-1");

  reader.ReadPtzProperties();
  auto takeover = gateway.sim.WaitForRequest("camera/ptz/takeover");
  ASSERT_TRUE(takeover.has_value());
  EXPECT_EQ(takeover->raw_text, "camera/ptz/takeover?pid=cam-2");
  EXPECT_EQ(gateway.sim.CountRequests("camera/ptz/takeover"), 1u);
  cameras = reader.GetCameras();
  const CPtzCapabilities& caps = cameras[1].ptzCapabilities;
  EXPECT_TRUE(caps.zoom && caps.focus && caps.iris);
  EXPECT_FALSE(caps.areaZoom || caps.center || caps.unzoom);
  EXPECT_EQ(caps.presetCount, 255u);
  EXPECT_FALSE(cameras[0].ptzCapabilities.pan);
}

TEST(ProfileReaderRoundTripTest, AbortEndsUnansweredRequests) {
  TempHome home;
  SimulatedGateway gateway(ScenarioWithoutLogOn());
  ASSERT_TRUE(gateway.Connect("admin", "admin", 60000));
  CProfileReader reader(&gateway.client);
  ASSERT_TRUE(reader.ReadProfile());
  gateway.sim.SetNeverAnswer("user/profile", true);
  gateway.sim.SetNeverAnswer("camera/ptz/takeover", true);

  CManualEvent abort;
  auto read = std::async(std::launch::async, [&] { return reader.ReadProfile(&abort); });
  ASSERT_TRUE(gateway.sim.WaitForRequest("user/profile", nullptr, std::chrono::milliseconds(5000),
                                         1)
                  .has_value());
  auto start = Clock::now();
  abort.Set();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(read.get());
  EXPECT_LT(MsSince(start), 2000);

  start = Clock::now();
  reader.ReadPtzProperties(&abort);
  EXPECT_LT(MsSince(start), 2000);
}

}  // namespace
}  // namespace quorvel
