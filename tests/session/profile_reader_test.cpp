#include "core/camera_record.h"
#include "session/profile_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <type_traits>
#include <vector>

#include "infra/event.h"
#include "support/messages.h"
#include "support/recording_client.h"
#include "support/temp_home.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using test_support::MakeServerMessage;

// "id:pid" of each record, "*" after a PTZ camera.
template <typename Record>
std::string Summary(const std::vector<Record>& records) {
  std::string text;
  for (const Record& r : records) {
    text += std::to_string(r.id) + ":" + r.pid;
    if constexpr (std::is_same_v<Record, CameraRecord>) text += r.ptz ? "*" : "";
    text += " ";
  }
  return text;
}

// Each read is answered here with a body, as the receiver thread would.
// No settings file: the profile is "service".
class ProfileReaderTest : public ::testing::Test {
 protected:
  void Read(const std::string& body) {
    client.Clear();
    auto result = std::async(std::launch::async, [&] { return reader.ReadProfile(); });
    ASSERT_TRUE(test_support::WaitUntil([&] { return !client.Requests().empty(); }));
    EXPECT_EQ(client.Requests(), std::vector<std::string>{"user/profile?name=service"});
    ServerMessage reply = MakeServerMessage({{"Response", "user/profile"}, {"Status", "OK"}}, body);
    reader.ProcessServerMessage(reply);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(result.get());  // a reply came, usable or not
  }

  test_support::TempHome home;
  test_support::RecordingClient client;
  CProfileReader reader{&client};
};

// Ids are positions among the elements of a kind, skipped ones included;
// cameras need state "ok" or "nosignal" in any letter case, and a pid.
TEST_F(ProfileReaderTest, ProfileElementsBecomeRecordsWithPositionsAsIds) {
  struct Case {
    const char* body;
    const char* cameras;
    const char* inputs;
    const char* outputs;
  };
  const Case cases[] = {
      {"", "", "", ""},
      {"<Profile name=\"other\"><Camera state=\"OK\" pid=\"a\"/></Profile>", "", "", ""},
      {"<Profile name=\"service\"><Group><Camera state=\"OK\" pid=\"a\"/>"
       "<Camera state=\"ok\" pid=\"\"/><Camera pid=\"no-state\"/>"
       "<PtzCamera state=\"offline\" pid=\"b\"/><PtzCamera state=\"NOSIGNAL\" pid=\"Dome-1\"/></Group>"
       "<DigitalInputs><DigitalInput pid=\"in-1\"/><DigitalInput/>"
       "<DigitalInput pid=\"in-3\" state=\"broken\"/></DigitalInputs>"
       "<DigitalOutputs><DigitalOutput/><DigitalOutput pid=\"out-2\"/></DigitalOutputs></Profile>",
       "0:a 4:Dome-1* ", "0:in-1 2:in-3 ", "1:out-2 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Read(c.body);
    EXPECT_EQ(Summary(reader.GetCameras()), c.cameras);
    EXPECT_EQ(Summary(reader.GetInputs()), c.inputs);
    EXPECT_EQ(Summary(reader.GetOutputs()), c.outputs);
  }
}

// Pan and tilt always, the rest by action word in any letter case, for
// the first camera whose pid contains the reply's ("12" matches "112");
// a reply without actions changes nothing. The driver's Close (the abort
// event) ends the takeover round after the first unanswered request.
TEST_F(ProfileReaderTest, PtzPropertiesUpdateTheFirstCameraContainingThePid) {
  Read("<Profile name=\"service\"><PtzCamera state=\"OK\" pid=\"112\"/>"
       "<PtzCamera state=\"OK\" pid=\"12\"/></Profile>");
  const auto flags = [](const CPtzCapabilities& c) {
    std::string f;
    for (bool b : {c.pan, c.tilt, c.zoom, c.focus, c.iris, c.areaZoom, c.center, c.unzoom}) f += b ? "x" : "-";
    return f + std::to_string(c.presetCount);
  };
  struct Case {
    const char *pid, *body, *flags;  // of "112": pan tilt zoom focus iris area center unzoom presets
  };
  const Case cases[] = {
      {"12", "<PtzControl actions=\"Zoom,Focus\"/>", "xxxx----255"},
      {"12", "<PtzControl actions=\"areazoom,UNZOOM,Iris\"/>", "xxx-xx-x255"},
      {"12", "<PtzControl actions=\"Pan,Tilt,Center\"/>", "xx----x-255"},
      {"112", "<PtzControl actions=\"\"/>", "xx----x-255"},
      {"112", "<PtzControl", "xx----x-255"},
      {"99", "<PtzControl actions=\"Focus\"/>", "xx----x-255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    ServerMessage reply =
        MakeServerMessage({{"Response", "camera/ptz/properties"}, {"Pid", c.pid}}, c.body);
    reader.ProcessServerMessage(reply);
    EXPECT_EQ(flags(reader.GetCameras()[0].ptzCapabilities), c.flags);
    EXPECT_EQ(flags(reader.GetCameras()[1].ptzCapabilities), "--------0");
  }
  client.Clear();
  CManualEvent abort;
  abort.Set();
  reader.ReadPtzProperties(&abort);
  EXPECT_EQ(client.Requests(), std::vector<std::string>{"camera/ptz/takeover?pid=112"});
}

}  // namespace
}  // namespace quorvel
