// The Gateway's PTZ objects against a simulated Gateway (no log-on) reached
// by a real client. Channel 0 is "cam-1", which zooms but is no dome;
// channel 1 is the dome "cam-2".
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/camera_record.h"
#include "frame_stamp.h"
#include "gateway/client_message.h"
#include "gateway/gw_client.h"
#include "gateway_simulator.h"
#include "infra/device_info.h"
#include "ptz/gateway_ptz_comm.h"
#include "ptz/gateway_ptz_control.h"
#include "ptz/gateway_ptz_handler.h"
#include "support/fake_driver.h"
#include "support/loopback_peer.h"
#include "support/messages.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using strevon::sim::RequestRecord;
using test_support::MakeServerMessage;
using test_support::WaitUntil;
using Api = IIPPTZApiEx*;

CameraRecord Camera(const std::string& pid, bool ptz, const std::string& caps) {
  CameraRecord record;
  record.pid = pid;
  record.ptz = ptz;
  record.ptzCapabilities.FromString(caps);
  return record;
}

// The dome's presets hold a name that needs escaping on the wire. Unless
// the Gateway answers, the dome's open and close get no status event, so
// that a late event from one case cannot reach the next.
strevon::sim::Scenario Site(bool answers) {
  strevon::sim::Scenario s = strevon::sim::DefaultScenario();
  s.require_logon = false;
  if (!answers) s.dome_open_status = s.dome_close_status = "";
  s.profiles.at(0).cameras.at(1).presets = {"Door", "Gate", "Yard & 100%"};
  return s;
}

std::string Xml(const std::string& attributes, const std::vector<std::string>& presets) {
  std::string xml = "<?xml version=\"1.0\"?><PtzControl pid=\"cam-2\"" + attributes + "><Presets>";
  for (const std::string& preset : presets) xml += "<Preset>" + preset + "</Preset>";
  return xml + "</Presets></PtzControl>";
}

class GatewayPtzTest : public ::testing::Test {
 protected:
  explicit GatewayPtzTest(bool answers = false) : sim(Site(answers)) {}
  // The receiver thread goes before the simulator and after the controls.
  ~GatewayPtzTest() override {
    handler.reset();
    client.Disconnect();
  }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim.Start(0, &error)) << error;
    DEVICE_INFO device = test_support::Loopback(sim.Port(), 5000);
    device.userName = device.password = "admin";
    ASSERT_TRUE(client.Connect(device));
    driver.client = &client;
    driver.cameras = {Camera("cam-1", false, "Zoom=1"),
                      Camera("cam-2", true, "Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=1, "
                                            "Unzoom=1, AreaZoom=1, Preset=255")};
  }

  std::unique_ptr<CGatewayPTZComm> Comm() { return std::make_unique<CGatewayPTZComm>(&driver, 1); }
  Api Control(std::uint32_t channel) {
    if (!handler) handler = std::make_unique<CGatewayPTZHandler>(&driver, 2);
    return handler->GetPTZApiEx(channel);
  }

  std::uint64_t Mark() { return sim.Requests().size(); }
  bool WaitFor(const std::string& command, std::uint64_t from,
               const std::function<bool(const RequestRecord&)>& pred = nullptr) {
    return sim.WaitForRequest(command, pred, 10s, from).has_value();
  }
  std::vector<std::string> Since(std::uint64_t from, bool rawText = false) {
    std::vector<std::string> out;
    for (const RequestRecord& r : sim.Requests()) {
      if (r.index >= from) out.push_back(rawText ? r.raw_text : r.command);
    }
    return out;
  }
  // A request sent straight through the client: once the Gateway has it,
  // everything written before it has arrived.
  void Barrier() {
    const std::uint64_t from = Mark();
    ASSERT_TRUE(client.Send(new ClientMessage("user/barrier")));
    ASSERT_TRUE(WaitFor("user/barrier", from));
  }
  // Initialize, and refresh again once the Gateway's answer to the first
  // refresh's takeover has brought the names.
  void LoadPresets(Api dome) {
    ASSERT_EQ(dome->Initialize(), 1);
    dome->RefreshPresets();
    ASSERT_TRUE(driver.WaitForLines("Dome properties received", 1));
    ASSERT_EQ(dome->RefreshPresets(), 3);
    Barrier();
  }

  strevon::sim::GatewaySimulator sim;
  CGWClient client;
  test_support::FakeDriver driver;
  std::unique_ptr<CGatewayPTZHandler> handler;
};

TEST_F(GatewayPtzTest, HostCallsGoOnTheWireAsTheseRequests) {
  Api dome = Control(1);
  ASSERT_NO_FATAL_FAILURE(LoadPresets(dome));
  struct Case {
    const char* name;
    std::function<int(Api)> call;
    std::vector<std::string> requests;  // as received, in order
  };
  const std::string stop = "camera/ptz/stop?pid=cam-2";
  // Wire speed: two fifteenths of the host speed less one, truncated.
  const std::vector<Case> cases = {
      {"the first command opens the dome", [](Api d) { return d->Move(0, 16); },
       {"camera/ptz/open?pid=cam-2", "camera/ptz/left?pid=cam-2&speed=2"}},
      {"right", [](Api d) { return d->Move(1, 9); }, {"camera/ptz/right?pid=cam-2&speed=1"}},
      {"up", [](Api d) { return d->Move(2, 1); }, {"camera/ptz/up?pid=cam-2&speed=0"}},
      {"down", [](Api d) { return d->Move(3, 24); }, {"camera/ptz/down?pid=cam-2&speed=3"}},
      {"up left", [](Api d) { return d->Move(4, 0); }, {"camera/ptz/upleft?pid=cam-2&speed=0"}},
      {"up right", [](Api d) { return d->Move(5, 23); }, {"camera/ptz/upright?pid=cam-2&speed=2"}},
      {"down left", [](Api d) { return d->Move(6, 8); }, {"camera/ptz/downleft?pid=cam-2&speed=0"}},
      {"down right, fastest", [](Api d) { return d->Move(7, 0xFFFFFFFFu); },
       {"camera/ptz/downright?pid=cam-2&speed=572662305"}},
      {"zoom in", [](Api d) { return d->ZoomIn(15); }, {"camera/ptz/zoomin?pid=cam-2&speed=1"}},
      {"zoom out", [](Api d) { return d->ZoomOut(16); }, {"camera/ptz/zoomout?pid=cam-2&speed=2"}},
      {"direction 9", [](Api d) { return d->Move(9, 1); }, {"camera/ptz/zoomout?pid=cam-2&speed=0"}},
      {"direction 11 goes out bare", [](Api d) { return d->Move(11, 5); },
       {"camera/ptz/?pid=cam-2&speed=0"}},
      {"focus near", [](Api d) { return d->FocusNear(15); }, {"camera/ptz/focusnear?pid=cam-2&speed=1"}},
      {"focus far", [](Api d) { return d->FocusFar(8); }, {"camera/ptz/focusfar?pid=cam-2&speed=0"}},
      {"iris open", [](Api d) { return d->IrisOpen(8); }, {"camera/ptz/irisopen?pid=cam-2&speed=0"}},
      {"iris close", [](Api d) { return d->IrisClose(16); }, {"camera/ptz/irisclose?pid=cam-2&speed=2"}},
      {"one stop per kind started", [](Api d) { return d->StopMotion(); }, {stop, stop, stop, stop}},
      {"nothing left to stop", [](Api d) { return d->StopMotion(); }, {}},
      {"center", [](Api d) { return d->CenterAt(4000000000u, 7, 99); },
       {"camera/ptz/center?pid=cam-2&x=4000000000&y=7"}},
      {"unzoom", [](Api d) { return d->UnzoomView(99); }, {"camera/ptz/unzoom?pid=cam-2"}},
      {"area zoom", [](Api d) { return d->ZoomToArea(10, 20, 30, 99); },
       {"camera/ptz/areazoom?pid=cam-2&x=10&y=20&z=30"}},
      {"centering and zooming leave nothing to stop", [](Api d) { return d->StopMotion(); }, {}},
      {"recall by name", [](Api d) { return d->GoToPreset(7, "Yard & 100%"); },
       {"camera/ptz/preset?pid=cam-2&name=Yard%20%26%20100%25"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint64_t from = Mark();
    ASSERT_EQ(c.call(dome), 1);
    ASSERT_TRUE(WaitUntil([&] { return Mark() >= from + c.requests.size(); }));
    EXPECT_EQ(Since(from, true), c.requests);
  }
  const std::uint64_t from = Mark();
  Barrier();
  EXPECT_EQ(Since(from), std::vector<std::string>{"user/barrier"});
}

class ControlWithoutComm : public CBasePTZControl {
 public:
  using CBasePTZControl::CBasePTZControl;
  CBasePTZComm* CreateComm() override { return nullptr; }
};
struct HandlerWithoutComm : CBasePTZHandler {
  using CBasePTZHandler::CBasePTZHandler;
  CBasePTZControl* CreateControl(std::uint32_t channel) override { return new ControlWithoutComm(Driver(), channel); }
};

TEST_F(GatewayPtzTest, RefusedCallsAnswerWithTheirCodeAndSendNothing) {
  struct Case {
    const char* name;
    std::uint32_t channel;
    std::function<int(Api)> call;
    int result;
  };
  const std::vector<Case> cases = {
      {"initialize no dome", 0, [](Api a) { return a->Initialize(); }, -18},
      {"direction 10", 1, [](Api a) { return a->Move(10, 5); }, -3},
      {"no capability record", 1, [](Api a) { return a->GetCapabilities(nullptr); }, -3},
      {"presets before Initialize", 1, [](Api a) { return a->RefreshPresets(); }, 0},
      {"recall before Initialize", 1, [](Api a) { return a->GoToPreset(1, "Door"); }, -23},
      {"add before Initialize", 1, [](Api a) { return a->AddPreset("Pier"); }, -18},
      {"remove before Initialize", 1, [](Api a) { return a->RemovePreset("Door"); }, -23},
  };
  // Channel 0 zooms only, and zooming needs pan or tilt as well; what was
  // refused leaves nothing to stop. A control without a command channel
  // refuses everything, and its handler does not keep it.
  const std::vector<std::function<int(Api)>> unsupported = {
      [](Api a) { return a->Move(0, 5); },      [](Api a) { return a->ZoomIn(5); },
      [](Api a) { return a->ZoomOut(5); },      [](Api a) { return a->FocusNear(5); },
      [](Api a) { return a->FocusFar(5); },     [](Api a) { return a->IrisOpen(5); },
      [](Api a) { return a->IrisClose(5); },    [](Api a) { return a->CenterAt(1, 2, 3); },
      [](Api a) { return a->UnzoomView(1); },   [](Api a) { return a->ZoomToArea(1, 2, 3, 4); }};
  const std::uint64_t from = Mark();
  ControlWithoutComm bare(nullptr, 0);
  for (std::size_t i = 0; i < unsupported.size(); ++i) {
    EXPECT_EQ(unsupported[i](Control(0)), -19) << i;
    EXPECT_EQ(unsupported[i](&bare), -18) << i;
  }
  for (int result : {bare.Initialize(), bare.StopMotion(), bare.GetCapabilities(nullptr)}) EXPECT_EQ(result, -18);
  EXPECT_EQ(HandlerWithoutComm(nullptr, 1).GetPTZApiEx(0), nullptr);
  EXPECT_EQ(Control(0)->StopMotion(), 1);
  for (const Case& c : cases) EXPECT_EQ(c.call(Control(c.channel)), c.result) << c.name;
  Barrier();
  EXPECT_EQ(Since(from), std::vector<std::string>{"user/barrier"});
}

TEST_F(GatewayPtzTest, PresetsFollowTheGatewayWithTheirResultCodes) {
  Api dome = Control(1);
  ASSERT_NO_FATAL_FAILURE(LoadPresets(dome));
  char buffer[8];
  EXPECT_EQ(dome->GetPresetName(1, buffer, 5), 1);
  EXPECT_STREQ(buffer, "Gate");
  EXPECT_EQ(dome->GetPresetName(1, buffer, 4), -3);  // no room for the zero
  EXPECT_EQ(dome->GetPresetName(3, buffer, sizeof buffer), -23);
  EXPECT_EQ(dome->GetPresetName(0, nullptr, sizeof buffer), -3);
  for (int result : {dome->GoToPreset(1, nullptr), dome->AddPreset(nullptr), dome->RemovePreset(nullptr)}) {
    EXPECT_EQ(result, -3);
  }
  EXPECT_EQ(dome->GoToPreset(1, "Nowhere"), -23);
  EXPECT_EQ(dome->AddPreset("Pier"), -26);  // the Gateway keeps its own presets
  EXPECT_EQ(dome->RemovePreset("Door"), -23);
  ASSERT_EQ(dome->GoToPreset(1, "Door"), 1);
  EXPECT_EQ(dome->GetCurrentPresetName(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "Door");
  EXPECT_EQ(dome->GetCurrentPresetName(nullptr, 4), -3);
  ASSERT_EQ(dome->FocusFar(3), 1);  // any motion leaves the preset
  EXPECT_EQ(dome->GetCurrentPresetName(buffer, sizeof buffer), -23);
}

TEST_F(GatewayPtzTest, CapabilitiesFillWordsOneToThirteenAndLeaveTheHostsWord) {
  driver.cameras[1] = Camera("cam-2", true, "Pan=1, Zoom=1, Iris=1, Center=1, AreaZoom=1, Preset=9");
  Api dome = Control(1);
  PtzCapabilityRecord record;
  std::memset(&record, 0xAB, sizeof record);
  ASSERT_EQ(dome->GetCapabilities(&record), 1);
  const std::uint32_t words[14] = {0xABABABABu, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0};
  static_assert(sizeof words == sizeof record, "fourteen words");
  EXPECT_EQ(std::memcmp(words, &record, sizeof words), 0);
  ASSERT_NO_FATAL_FAILURE(LoadPresets(dome));
  ASSERT_EQ(dome->GetCapabilities(&record), 1);
  EXPECT_EQ(record.maxPresets, 3u);
  EXPECT_EQ(record.presetCount, 3u);
}

TEST_F(GatewayPtzTest, HandlerGivesOneControlPerChannelAndReleaseClosesEveryDome) {
  Api dome = Control(1);
  ASSERT_NE(dome, nullptr);
  EXPECT_EQ(Control(1), dome);
  EXPECT_EQ(handler->GetPTZApi(1), static_cast<IIPPTZApi*>(dome));
  EXPECT_EQ(Control(2), nullptr);
  ASSERT_NE(Control(0), nullptr);
  EXPECT_EQ(dynamic_cast<IIPParams*>(dome)->GetChannel(), 1u);
  const std::uint64_t from = Mark();
  handler->ReleaseControls();
  for (const std::string pid : {"cam-1", "cam-2"}) {
    EXPECT_TRUE(WaitFor("camera/ptz/close", from, [&](const RequestRecord& r) {
      return r.raw_text == "camera/ptz/close?pid=" + pid;
    })) << pid;
  }
  EXPECT_NE(Control(1), nullptr);  // created afresh
}

TEST_F(GatewayPtzTest, CommandsWaitBoundedForOpenAndAfterCloseAreRefusedUntilOpenedAgain) {
  auto comm = Comm();
  for (std::uint32_t x = 0; x < 17; ++x) ASSERT_EQ(comm->Center(nullptr, x, 0, 0), 1);
  EXPECT_EQ(comm->PendingCount(), 16u);
  ASSERT_TRUE(comm->Open());
  ASSERT_TRUE(WaitFor("camera/ptz/center", 0, [](const RequestRecord& r) { return r.Param("x") == "16"; }));
  EXPECT_EQ(sim.CountRequests("camera/ptz/center"), 16u);  // the oldest was dropped
  comm->Close();
  EXPECT_FALSE(comm->IsStarted());
  EXPECT_EQ(comm->StartMove(nullptr, 0, 5), -18);
  EXPECT_EQ(comm->StartIris(nullptr, false, 5), -18);
  EXPECT_FALSE(comm->StopZooming(nullptr));
  EXPECT_EQ(comm->PendingCount(), 0u);
  EXPECT_FALSE(comm->SavePreset(0, "Door") || comm->DeletePreset(0, "Door"));  // the Gateway keeps its own
  EXPECT_EQ(driver.LevelOf("quorvel::CBasePTZComm::StartIris: cannot send message (3) to thread"), 1);
  const std::uint64_t from = Mark();
  ASSERT_TRUE(comm->Open());
  ASSERT_EQ(comm->StartMove(nullptr, 1, 5), 1);
  EXPECT_TRUE(WaitFor("camera/ptz/right", from));
}

// The dome is opened before the first command and again only once its
// time-out (1 s here) has passed since the last command.
TEST_F(GatewayPtzTest, DomeIsOpenedBeforeTheFirstCommandAndAgainOnlyAfterItsTimeOut) {
  auto comm = Comm();
  ServerMessage properties = MakeServerMessage(
      {{"Response", "camera/ptz/properties"}, {"Pid", "cam-2"}, {"Status", "OK"}}, Xml(" timeout=\"1\"", {}));
  comm->ProcessServerMessage(properties);
  ASSERT_TRUE(comm->Open());
  ASSERT_EQ(comm->StartMove(nullptr, 0, 5), 1);
  ASSERT_EQ(comm->StartMove(nullptr, 1, 5), 1);
  const auto right = sim.WaitForRequest("camera/ptz/right", nullptr, 10s);
  ASSERT_TRUE(right.has_value());
  // The time-out itself has to pass; the last command went out before the
  // Gateway received "right".
  ASSERT_TRUE(WaitUntil([&] { return strevon::sim::MonotonicNs() >= right->mono_ns + 1100000000u; }, 3000));
  ASSERT_EQ(comm->StartMove(nullptr, 2, 5), 1);
  ASSERT_TRUE(WaitFor("camera/ptz/up", 0));
  EXPECT_EQ(Since(0), (std::vector<std::string>{"camera/ptz/open", "camera/ptz/left", "camera/ptz/right",
                                                "camera/ptz/open", "camera/ptz/up"}));
}

TEST_F(GatewayPtzTest, OnlyAnOpenStatusOfThisDomeSparesTheNextOpen) {
  struct Case {
    const char* pid;
    const char* status;
    bool opens;
  };
  const Case cases[] = {
      {"cam-2", "DomeOpen", false}, {"cam-2", "DomeOK", false}, {"cam-2", "DomeOpenFailed", false},
      {"<cam-2>", "DomeOpen", false}, {"cam-9", "DomeOpen", true}, {"cam-2", "DomeReleased", true},
      {"cam-2", "DomeReserved", true}, {"cam-2", "DomeNotAvailable", true}, {"cam-2", "Busy", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pid) + " " + c.status);
    auto comm = Comm();
    ServerMessage event =
        MakeServerMessage({{"Response", "camera/ptz/event"}, {"Pid", c.pid}, {"Status", c.status}});
    comm->ProcessServerMessage(event);
    const std::uint64_t from = Mark();
    ASSERT_TRUE(comm->Open());
    ASSERT_EQ(comm->StartMove(nullptr, 2, 5), 1);
    ASSERT_TRUE(WaitFor("camera/ptz/up", from));
    EXPECT_EQ(Since(from).front(), c.opens ? "camera/ptz/open" : "camera/ptz/up");
    comm.reset();
    Barrier();
  }
  EXPECT_EQ(driver.LevelOf("quorvel::CGatewayPTZComm::ProcessServerMessage: Dome status DomeReleased"), 4);
  EXPECT_FALSE(driver.HasLineContaining("Dome status Busy"));
}

TEST_F(GatewayPtzTest, PropertiesReplaceNamesAndOnlyAPositiveTimeOutOrActionsChangeTheRest) {
  // Reading the names sends a takeover; the Gateway's own answer to it
  // must not overwrite the messages under test.
  sim.SetNeverAnswer("camera/ptz/takeover", true);
  auto comm = Comm();
  struct Step {
    const char* name;
    std::string pid, body;
    std::uint32_t timeout;
    std::vector<std::string> names;
    std::uint32_t maxPresets;
  };
  const std::vector<std::string> kept = {"Pier", "50%d %s"};
  const std::vector<Step> steps = {
      {"actions and time-out", "cam-2", Xml(" actions=\"Pan\" timeout=\"30\"", {"Door", "Gate", "Yard"}),
       30, {"Door", "Gate", "Yard"}, 3},
      {"negative time-out, no actions", "cam-2", Xml(" timeout=\"-5\"", {"A", "B"}), 30, {"A", "B"}, 3},
      {"leading number", "cam-2", Xml(" timeout=\"12s\"", {"A"}), 12, {"A"}, 3},
      {"empty presets add no name", "cam-2", Xml(" actions=\"x\"", {"", "Pier", "50%d %s"}), 12, kept, 2},
      {"malformed", "cam-2", "<PtzControl timeout=\"7\"><Presets>", 12, kept, 2},
      {"no PtzControl", "cam-2", "<Other timeout=\"7\"/>", 12, kept, 2},
      {"empty body", "cam-2", "", 12, kept, 2},
      {"past 31 bits", "cam-2", Xml(" timeout=\"2147483648\"", {"A"}), 2147483648u, {"A"}, 2},
      {"past 32 bits: the longest", "cam-2", Xml(" timeout=\"99999999999\"", {"A"}), UINT32_MAX, {"A"}, 2},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    ServerMessage message = MakeServerMessage(
        {{"Response", "camera/ptz/properties"}, {"Pid", step.pid}, {"Status", "OK"}}, step.body);
    comm->ProcessServerMessage(message);
    EXPECT_EQ(comm->GetDomeTimeoutS(), step.timeout);
    std::vector<PresetEntry> entries;
    ASSERT_TRUE(comm->LoadPresets(entries));
    ASSERT_EQ(entries.size(), step.names.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].index, i);
      EXPECT_EQ(entries[i].name, step.names[i]);
    }
    PtzCapabilityRecord record{};
    ASSERT_EQ(comm->GetCapabilities(&record), 1);
    EXPECT_EQ(record.maxPresets, step.maxPresets);
  }
  EXPECT_EQ(driver.LevelOf("quorvel::CGatewayPTZComm::ParsePropertiesInfo: Dome properties parse failed"), 4);
  // A body's "%" reaches the log as text, not as a conversion.
  EXPECT_TRUE(driver.HasLineContaining("<Preset>50%d %s</Preset>"));
}

class GatewayPtzAnsweringTest : public GatewayPtzTest {
 protected:
  GatewayPtzAnsweringTest() : GatewayPtzTest(true) {}
};

TEST_F(GatewayPtzAnsweringTest, DestructionClosesTheDomeAndLeavesTheClient) {
  auto comm = Comm();
  ASSERT_TRUE(comm->Open());
  ASSERT_EQ(comm->StartMove(nullptr, 0, 5), 1);
  ASSERT_TRUE(driver.WaitForLines("Dome status DomeOpen", 1));
  ASSERT_TRUE(WaitFor("camera/ptz/left", 0));
  const std::uint64_t from = Mark();
  comm.reset();
  ASSERT_TRUE(WaitFor("camera/ptz/close", from));
  EXPECT_EQ(Since(from, true), std::vector<std::string>{"camera/ptz/close?pid=cam-2"});
  // A later dome event reaches only the receivers still registered: one
  // left behind would log a second line (or be called on a freed object).
  auto other = Comm();
  ASSERT_TRUE(other->Open());
  ASSERT_EQ(other->StartMove(nullptr, 0, 5), 1);
  ASSERT_TRUE(driver.WaitForLines("Dome status DomeOpen", 2));
  EXPECT_EQ(driver.CountLines("Dome status DomeOpen"), 2u);
}

}  // namespace
}  // namespace quorvel
