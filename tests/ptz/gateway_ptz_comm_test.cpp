// The PTZ command channel against the simulated Gateway: what goes on the
// wire for each command, the bounded queue, the dome keep-alive, dome status
// and properties messages, preset operations and teardown.
#include "ptz/gateway_ptz_comm.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "infra/event.h"
#include "ptz/ptz_test_support.h"

namespace quorvel {
namespace {

using ptz_test::Camera;
using ptz_test::PtzGatewayTest;
using session_test::MakeMessage;
using strevon::sim::RequestRecord;
using namespace std::chrono_literals;

ServerMessage PtzEvent(const std::string& pid, const std::string& status) {
  return MakeMessage({{"Response", "camera/ptz/event"}, {"Pid", pid}, {"Status", status}});
}

ServerMessage Properties(const std::string& pid, const std::string& body) {
  return MakeMessage({{"Response", "camera/ptz/properties"}, {"Pid", pid}, {"Status", "OK"}}, body);
}

std::string PropertiesXml(const std::string& attributes, const std::vector<std::string>& presets) {
  std::string xml = "<?xml version=\"1.0\"?><PtzControl pid=\"cam-2\"" + attributes + "><Presets>";
  for (const std::string& preset : presets) xml += "<Preset>" + preset + "</Preset>";
  return xml + "</Presets></PtzControl>";
}

std::vector<std::string> Names(CGatewayPTZComm& comm) {
  std::vector<PresetEntry> entries;
  EXPECT_TRUE(comm.LoadPresets(entries));
  std::vector<std::string> names;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].index, i);
    names.push_back(entries[i].name);
  }
  return names;
}

class GatewayPTZCommTest : public PtzGatewayTest {
 protected:
  explicit GatewayPTZCommTest(const strevon::sim::Scenario& scenario = ptz_test::QuietScenario())
      : PtzGatewayTest(scenario) {}

  std::unique_ptr<CGatewayPTZComm> MakeComm(std::uint16_t channel = 1) {
    return std::make_unique<CGatewayPTZComm>(&driver, channel);
  }
};

TEST_F(GatewayPTZCommTest, SeventeenCommandsPostedBeforeTheThreadRunsKeepTheNewestSixteen) {
  auto comm = MakeComm();
  for (std::uint32_t x = 0; x < 17; ++x) ASSERT_EQ(comm->Center(nullptr, x, 100 + x, 0), 1);
  EXPECT_EQ(comm->PendingCount(), 16u);

  const std::uint64_t from = Mark();
  ASSERT_TRUE(comm->Open());
  ASSERT_TRUE(WaitFor("camera/ptz/center", from,
                      [](const RequestRecord& r) { return r.Param("x") == "16"; }));
  std::vector<std::string> xs;
  for (const RequestRecord& r : Sim().Requests()) {
    if (r.index >= from && r.command == "camera/ptz/center") {
      xs.push_back(r.Param("x"));
      EXPECT_EQ(r.Param("y"), std::to_string(100 + std::stoul(r.Param("x"))));
    }
  }
  std::vector<std::string> expected;
  for (int x = 1; x <= 16; ++x) expected.push_back(std::to_string(x));
  EXPECT_EQ(xs, expected);
  EXPECT_EQ(CommandsSince(from).front(), "camera/ptz/open");
}

TEST_F(GatewayPTZCommTest, EachCommandGoesOutWithItsNameAndParameters) {
  auto comm = MakeComm();
  ASSERT_TRUE(comm->Open());
  struct Case {
    std::function<bool(CGatewayPTZComm&)> post;
    const char* request;  // the request text as sent
  };
  const std::vector<Case> cases = {
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 0, 16) == 1; },
       "camera/ptz/left?pid=cam-2&speed=2"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 1, 9) == 1; },
       "camera/ptz/right?pid=cam-2&speed=1"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 2, 1) == 1; },
       "camera/ptz/up?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 3, 1) == 1; },
       "camera/ptz/down?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 4, 1) == 1; },
       "camera/ptz/upleft?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 5, 1) == 1; },
       "camera/ptz/upright?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 6, 1) == 1; },
       "camera/ptz/downleft?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 7, 1) == 1; },
       "camera/ptz/downright?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 8, 1) == 1; },
       "camera/ptz/zoomin?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 9, 1) == 1; },
       "camera/ptz/zoomout?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartMove(nullptr, 11, 1) == 1; },
       "camera/ptz/?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartFocus(nullptr, true, 15) == 1; },
       "camera/ptz/focusnear?pid=cam-2&speed=1"},
      {[](CGatewayPTZComm& c) { return c.StartFocus(nullptr, false, 15) == 1; },
       "camera/ptz/focusfar?pid=cam-2&speed=1"},
      {[](CGatewayPTZComm& c) { return c.StartIris(nullptr, true, 8) == 1; },
       "camera/ptz/irisopen?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StartIris(nullptr, false, 8) == 1; },
       "camera/ptz/irisclose?pid=cam-2&speed=0"},
      {[](CGatewayPTZComm& c) { return c.StopMoving(nullptr); }, "camera/ptz/stop?pid=cam-2"},
      {[](CGatewayPTZComm& c) { return c.StopZooming(nullptr); }, "camera/ptz/stop?pid=cam-2"},
      {[](CGatewayPTZComm& c) { return c.StopFocusing(nullptr); }, "camera/ptz/stop?pid=cam-2"},
      {[](CGatewayPTZComm& c) { return c.StopIrisChanging(nullptr); }, "camera/ptz/stop?pid=cam-2"},
      {[](CGatewayPTZComm& c) { return c.AreaZoom(nullptr, 10, 20, 30, 99) == 1; },
       "camera/ptz/areazoom?pid=cam-2&x=10&y=20&z=30"},
      {[](CGatewayPTZComm& c) { return c.Center(nullptr, 4000000000u, 7, 99) == 1; },
       "camera/ptz/center?pid=cam-2&x=4000000000&y=7"},
      {[](CGatewayPTZComm& c) { return c.Unzoom(nullptr, 99) == 1; },
       "camera/ptz/unzoom?pid=cam-2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    const std::uint64_t from = Mark();
    ASSERT_TRUE(c.post(*comm));
    const std::string text = c.request;
    const std::string command = text.substr(0, text.find('?'));
    const auto request = WaitFor(command, from);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->raw_text, text);
  }
}

TEST_F(GatewayPTZCommTest, WireSpeedIsTwoFifteenthsOfTheHostSpeedLessOne) {
  auto comm = MakeComm();
  ASSERT_TRUE(comm->Open());
  const std::vector<std::pair<std::uint32_t, const char*>> table = {
      {0, "0"},  {1, "0"},  {8, "0"},
      {9, "1"},  {15, "1"}, {16, "2"},
      {23, "2"}, {24, "3"}, {0xFFFFFFFFu, "572662305"}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.first);
    const std::uint64_t from = Mark();
    ASSERT_EQ(comm->StartMove(nullptr, 0, row.first), 1);
    const auto request = WaitFor("camera/ptz/left", from);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->Param("speed"), row.second);
  }
}

TEST_F(GatewayPTZCommTest, MissingCapabilityRefusesWithoutQueuing) {
  driver.cameras[1] = Camera("cam-2", true, "Pan=0, Tilt=0, Zoom=1, Focus=0, Iris=0, Preset=0");
  auto comm = MakeComm();
  struct Case {
    const char* name;
    std::function<int(CGatewayPTZComm&)> post;
  };
  const std::vector<Case> cases = {
      {"zoom in needs pan or tilt", [](CGatewayPTZComm& c) { return c.StartMove(nullptr, 8, 5); }},
      {"move", [](CGatewayPTZComm& c) { return c.StartMove(nullptr, 0, 5); }},
      {"focus", [](CGatewayPTZComm& c) { return c.StartFocus(nullptr, true, 5); }},
      {"iris", [](CGatewayPTZComm& c) { return c.StartIris(nullptr, true, 5); }},
      {"area zoom", [](CGatewayPTZComm& c) { return c.AreaZoom(nullptr, 1, 2, 3, 4); }},
      {"center", [](CGatewayPTZComm& c) { return c.Center(nullptr, 1, 2, 3); }},
      {"unzoom", [](CGatewayPTZComm& c) { return c.Unzoom(nullptr, 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.post(*comm), -19);
  }
  EXPECT_EQ(comm->PendingCount(), 0u);
  EXPECT_TRUE(comm->StopMoving(nullptr));
  EXPECT_EQ(comm->PendingCount(), 1u);
  EXPECT_TRUE(driver.Log().empty());
}

TEST_F(GatewayPTZCommTest, CommandsAfterCloseAreRefusedAndLoggedAsErrors) {
  auto comm = MakeComm();
  ASSERT_TRUE(comm->Open());
  EXPECT_TRUE(comm->IsRunning());
  comm->Close();
  EXPECT_FALSE(comm->IsRunning());
  EXPECT_FALSE(comm->IsStarted());

  EXPECT_EQ(comm->StartMove(nullptr, 0, 5), -18);
  EXPECT_EQ(comm->StartIris(nullptr, false, 5), -18);
  EXPECT_FALSE(comm->StopZooming(nullptr));
  EXPECT_EQ(comm->PendingCount(), 0u);
  EXPECT_EQ(driver.LevelOf("quorvel::CBasePTZComm::StartMove: cannot send message (1) to thread"),
            1);
  EXPECT_EQ(driver.LevelOf("quorvel::CBasePTZComm::StartIris: cannot send message (3) to thread"),
            1);
  EXPECT_EQ(driver.LevelOf("quorvel::CBasePTZComm::StopZooming: cannot send message (4) to thread"),
            1);

  // Open again: the thread runs and commands flow once more.
  const std::uint64_t from = Mark();
  ASSERT_TRUE(comm->Open());
  ASSERT_EQ(comm->StartMove(nullptr, 1, 5), 1);
  EXPECT_TRUE(WaitFor("camera/ptz/right", from).has_value());
}

TEST_F(GatewayPTZCommTest, DomeStatusRefreshesTheKeepAliveOnlyForItsPidAndOpenStatuses) {
  struct Case {
    const char* pid;
    const char* status;
    bool openBeforeCommand;
  };
  const std::vector<Case> cases = {
      {"cam-2", "DomeOpen", false},
      {"cam-2", "DomeOK", false},
      {"cam-2", "DomeOpenFailed", false},
      {"<cam-2>", "DomeOpen", false},
      {"cam-9", "DomeOpen", true},
      {"cam-2", "DomeReleased", true},
      {"cam-2", "DomeReserved", true},
      {"cam-2", "DomeNotAvailable", true},
      {"cam-2", "Busy", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pid) + " " + c.status);
    auto comm = MakeComm();
    ServerMessage event = PtzEvent(c.pid, c.status);
    comm->ProcessServerMessage(event);
    const std::uint64_t from = Mark();
    ASSERT_TRUE(comm->Open());
    ASSERT_EQ(comm->StartMove(nullptr, 2, 5), 1);
    ASSERT_TRUE(WaitFor("camera/ptz/up", from).has_value());
    const std::vector<std::string> commands = CommandsSince(from);
    const std::vector<std::string> expected =
        c.openBeforeCommand ? std::vector<std::string>{"camera/ptz/open", "camera/ptz/up"}
                            : std::vector<std::string>{"camera/ptz/up"};
    EXPECT_EQ(std::vector<std::string>(
                  commands.begin(), commands.begin() + std::min(commands.size(), std::size_t{2})),
              expected);
    comm.reset();
    Barrier();
  }
  EXPECT_EQ(
      driver.LevelOf("quorvel::CGatewayPTZComm::ProcessServerMessage: Dome status DomeReleased"),
      4);
  EXPECT_FALSE(driver.HasLineContaining("Dome status Busy"));
}

TEST_F(GatewayPTZCommTest, PropertiesReplaceNamesAndOnlyAPositiveTimeOutOrActionsChangeTheRest) {
  // Reading the names sends a takeover; the Gateway's own answer to it
  // must not overwrite the messages under test.
  Sim().SetNeverAnswer("camera/ptz/takeover", true);
  auto comm = MakeComm();
  EXPECT_EQ(comm->GetDomeTimeoutS(), 60u);
  struct Step {
    const char* name;
    std::string pid;
    std::string body;
    std::uint32_t timeout;
    std::vector<std::string> names;
    std::uint32_t presetCount;  // word 7 of the capability record
  };
  const std::vector<Step> steps = {
      {"actions and time-out",
       "cam-2",
       PropertiesXml(" actions=\"Pan\" timeout=\"30\"", {"Door", "Gate", "Yard"}),
       30,
       {"Door", "Gate", "Yard"},
       3},
      {"zero time-out",
       "cam-2",
       PropertiesXml(" actions=\"Pan\" timeout=\"0\"", {"A"}),
       30,
       {"A"},
       1},
      {"negative time-out",
       "cam-2",
       PropertiesXml(" timeout=\"-5\"", {"A", "B"}),
       30,
       {"A", "B"},
       1},
      {"time-out not a number", "cam-2", PropertiesXml(" timeout=\"soon\"", {"A"}), 30, {"A"}, 1},
      {"leading number", "cam-2", PropertiesXml(" timeout=\"12s\"", {"A"}), 12, {"A"}, 1},
      {"empty presets add no name",
       "cam-2",
       PropertiesXml(" actions=\"x\"", {"", "Pier", "50%d %s"}),
       12,
       {"Pier", "50%d %s"},
       2},
      {"other pid",
       "cam-9",
       PropertiesXml(" actions=\"x\" timeout=\"5\"", {"Z"}),
       12,
       {"Pier", "50%d %s"},
       2},
      {"malformed", "cam-2", "<PtzControl timeout=\"7\"><Presets>", 12, {"Pier", "50%d %s"}, 2},
      {"no PtzControl", "cam-2", "<Other timeout=\"7\"/>", 12, {"Pier", "50%d %s"}, 2},
      {"empty body", "cam-2", "", 12, {"Pier", "50%d %s"}, 2},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    ServerMessage message = Properties(step.pid, step.body);
    comm->ProcessServerMessage(message);
    EXPECT_EQ(comm->GetDomeTimeoutS(), step.timeout);
    EXPECT_EQ(Names(*comm), step.names);
    PtzCapabilityRecord record{};
    ASSERT_EQ(comm->GetCapabilities(&record), 1);
    EXPECT_EQ(record.maxPresets, step.presetCount);
  }
  EXPECT_EQ(driver.LevelOf("quorvel::CGatewayPTZComm::ParsePropertiesInfo: Dome properties "
                           "parse failed"),
            4);
  // A body's "%" reaches the log as text, not as a conversion.
  EXPECT_TRUE(driver.HasLineContaining("<Preset>50%d %s</Preset>"));
}

TEST_F(GatewayPTZCommTest, SaveAndDeleteAreRefusedWithoutTrafficAndLoadSendsTakeoverFirst) {
  auto comm = MakeComm();
  const std::uint64_t from = Mark();
  EXPECT_FALSE(comm->SavePreset(0, "Door"));
  EXPECT_FALSE(comm->DeletePreset(0, "Door"));
  EXPECT_FALSE(comm->CanSavePresets());
  EXPECT_FALSE(comm->CanDeletePresets());

  std::vector<PresetEntry> entries;
  EXPECT_TRUE(comm->LoadPresets(entries));
  EXPECT_TRUE(entries.empty());
  const auto takeover = WaitFor("camera/ptz/takeover", from);
  ASSERT_TRUE(takeover.has_value());
  EXPECT_EQ(takeover->index, from);
  EXPECT_EQ(takeover->raw_text, "camera/ptz/takeover?pid=cam-2");

  // The Gateway answers the takeover with its properties; the next load has
  // the names.
  ASSERT_TRUE(driver.WaitForLines("Dome properties received", 1));
  EXPECT_EQ(Names(*comm), (std::vector<std::string>{"Door", "Gate", "Yard"}));
  PtzCapabilityRecord record{};
  comm->GetCapabilities(&record);
  EXPECT_EQ(record.maxPresets, 3u);
}

TEST_F(GatewayPTZCommTest, RecallSendsTheNameAtOnceOnTheCallersThread) {
  auto comm = MakeComm();  // never opened: the recall does not use the queue
  const std::uint64_t from = Mark();
  EXPECT_TRUE(comm->RecallPreset(1, "Gate & 100%", 7));
  const auto preset = WaitFor("camera/ptz/preset", from);
  ASSERT_TRUE(preset.has_value());
  EXPECT_EQ(preset->raw_text, "camera/ptz/preset?pid=cam-2&name=Gate%20%26%20100%25");
  EXPECT_EQ(preset->Param("name"), "Gate & 100%");
  EXPECT_EQ(CommandsSince(from),
            (std::vector<std::string>{"camera/ptz/open", "camera/ptz/preset"}));
}

TEST_F(GatewayPTZCommTest, EmptyPidSendsNoCommandButStillRecallsByName) {
  driver.cameras[1].pid.clear();
  auto comm = MakeComm();
  const std::uint64_t from = Mark();
  ASSERT_TRUE(comm->Open());
  ASSERT_EQ(comm->StartMove(nullptr, 0, 5), 1);
  std::vector<PresetEntry> entries;
  EXPECT_TRUE(comm->LoadPresets(entries));
  EXPECT_TRUE(comm->RecallPreset(0, "Door", 1));
  ASSERT_TRUE(WaitFor("camera/ptz/preset", from).has_value());
  comm.reset();  // joins the command thread: the move has been handled or dropped
  Barrier();
  EXPECT_EQ(CommandsSince(from), (std::vector<std::string>{"camera/ptz/preset", "user/barrier"}));
}

// Answers "camera/ptz/open" with "DomeOpen" and "camera/ptz/close" with
// "DomeReleased", as the Gateway does.
class GatewayPTZCommEventsTest : public GatewayPTZCommTest {
 protected:
  GatewayPTZCommEventsTest() : GatewayPTZCommTest(session_test::ScenarioWithoutLogOn()) {}
};

TEST_F(GatewayPTZCommEventsTest, DestructionClosesTheDomeAndLeavesTheClient) {
  auto comm = MakeComm();
  ASSERT_TRUE(comm->Open());
  ASSERT_EQ(comm->StartMove(nullptr, 0, 5), 1);
  ASSERT_TRUE(driver.WaitForLines("Dome status DomeOpen", 1));

  const std::uint64_t from = Mark();
  comm.reset();
  const auto close = WaitFor("camera/ptz/close", from);
  ASSERT_TRUE(close.has_value());
  EXPECT_EQ(close->raw_text, "camera/ptz/close?pid=cam-2");

  // A later dome event reaches only the receivers still registered; one left
  // behind would be called on a destroyed object.
  class Probe : public IMessageReceiver {
   public:
    void ProcessServerMessage(ServerMessage& message) override {
      if (message.GetHeader("Status") == "DomeOpen") seen.Set();
    }
    CManualEvent seen;
  } probe;
  gateway.client.RegisterReceiver("camera/ptz/event", &probe);
  ClientMessage* open = new ClientMessage("camera/ptz/open");
  open->AddParam("pid", std::string("cam-2"));
  ASSERT_TRUE(gateway.client.Send(open));
  EXPECT_TRUE(probe.seen.Wait(10000));
  gateway.client.UnregisterReceiver(&probe);
  EXPECT_TRUE(driver.WaitForLines("Dome status DomeOpen", 1, 0s));
  EXPECT_FALSE(driver.WaitForLines("Dome status DomeOpen", 2, 0s));
}

}  // namespace
}  // namespace quorvel
