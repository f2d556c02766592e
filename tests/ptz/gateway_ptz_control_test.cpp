// The host's PTZ objects: the handler handing out controls, and a control's
// result codes, motion flags, capability record and preset calls, with the
// Gateway simulated.
#include "ptz/gateway_ptz_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ptz/gateway_ptz_handler.h"
#include "ptz/ptz_test_support.h"

namespace quorvel {
namespace {

using ptz_test::Camera;
using ptz_test::PtzGatewayTest;

class GatewayPTZControlTest : public PtzGatewayTest {
 protected:
  void SetUp() override {
    PtzGatewayTest::SetUp();
    if (HasFatalFailure()) return;
    handler = std::make_unique<CGatewayPTZHandler>(&driver, 2);
  }
  void TearDown() override { handler.reset(); }

  IIPPTZApiEx* Dome() { return handler->GetPTZApiEx(1); }

  // Queues a centering behind whatever api queued before and waits until it
  // went out: everything queued earlier has been handled by then.
  void QueueMarker(IIPPTZApi* api, std::uint64_t from) {
    ASSERT_EQ(api->CenterAt(4242, 0, 0), 1);
    ASSERT_TRUE(WaitFor("camera/ptz/center", from, [](const strevon::sim::RequestRecord& r) {
      return r.Param("x") == "4242";
    }));
  }

  // Refreshes until the Gateway's answer to the first takeover has arrived.
  int RefreshUntilLoaded(IIPPTZApi* api, int expected) {
    int count = api->RefreshPresets();
    if (count == expected) return count;
    if (!driver.WaitForLines("Dome properties received", 1)) return count;
    return api->RefreshPresets();
  }

  std::unique_ptr<CGatewayPTZHandler> handler;
};

TEST_F(GatewayPTZControlTest, HandlerGivesOneControlPerChannelBelowTheCount) {
  IIPPTZApiEx* dome = Dome();
  ASSERT_NE(dome, nullptr);
  EXPECT_EQ(handler->GetPTZApiEx(1), dome);
  EXPECT_EQ(handler->GetPTZApi(1), static_cast<IIPPTZApi*>(dome));
  EXPECT_EQ(handler->GetPTZApiEx(2), nullptr);
  EXPECT_EQ(handler->GetPTZApi(0xFFFFFFFFu), nullptr);
  IIPPTZApiEx* plain = handler->GetPTZApiEx(0);
  ASSERT_NE(plain, nullptr);
  EXPECT_NE(plain, dome);
  EXPECT_EQ(dynamic_cast<IIPParams*>(plain)->GetChannel(), 0u);
  EXPECT_EQ(dynamic_cast<IIPParams*>(dome)->GetChannel(), 1u);

  const std::uint64_t from = Mark();
  handler->ReleaseControls();
  // Each released control closes its dome.
  ASSERT_TRUE(WaitFor("camera/ptz/close", from, [](const strevon::sim::RequestRecord& r) {
    return r.Param("pid") == "cam-1";
  }));
  ASSERT_TRUE(WaitFor("camera/ptz/close", from, [](const strevon::sim::RequestRecord& r) {
    return r.Param("pid") == "cam-2";
  }));
  EXPECT_NE(handler->GetPTZApiEx(1), nullptr);  // created afresh
}

TEST_F(GatewayPTZControlTest, InitializeNeedsAPtzCamera) {
  EXPECT_EQ(handler->GetPTZApiEx(0)->Initialize(), -18);
  EXPECT_EQ(Dome()->Initialize(), 1);
}

TEST_F(GatewayPTZControlTest, DirectionTenIsRefusedAndElevenReachesTheWireBare) {
  IIPPTZApiEx* dome = Dome();
  const std::uint64_t from = Mark();
  EXPECT_EQ(dome->Move(10, 5), -3);
  EXPECT_EQ(dome->Move(11, 5), 1);
  const auto bare = WaitFor("camera/ptz/", from);
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(bare->raw_text, "camera/ptz/?pid=cam-2&speed=0");
  // Only the open and the bare command: direction 10 queued nothing.
  EXPECT_EQ(CommandsSince(from), (std::vector<std::string>{"camera/ptz/open", "camera/ptz/"}));
}

TEST_F(GatewayPTZControlTest, StopMotionStopsWhatWasStartedOnce) {
  IIPPTZApiEx* dome = Dome();
  std::uint64_t from = Mark();
  EXPECT_EQ(dome->StopMotion(), 1);
  Barrier();
  EXPECT_EQ(CommandsSince(from), (std::vector<std::string>{"user/barrier"}));

  from = Mark();
  ASSERT_EQ(dome->ZoomIn(16), 1);
  EXPECT_EQ(dome->StopMotion(), 1);
  EXPECT_EQ(dome->StopMotion(), 1);
  QueueMarker(dome, from);
  EXPECT_EQ(CommandsSince(from),
            (std::vector<std::string>{"camera/ptz/open", "camera/ptz/zoomin", "camera/ptz/stop",
                                      "camera/ptz/center"}));

  // Centering, unzoom and area zoom start nothing that a stop would end.
  from = Mark();
  ASSERT_EQ(dome->CenterAt(1, 2, 3), 1);
  ASSERT_EQ(dome->UnzoomView(1), 1);
  ASSERT_EQ(dome->ZoomToArea(1, 2, 3, 4), 1);
  EXPECT_EQ(dome->StopMotion(), 1);
  QueueMarker(dome, from);
  EXPECT_EQ(Sim().CountRequests("camera/ptz/stop"), 1u);
}

TEST_F(GatewayPTZControlTest, StopMotionSendsOneStopPerStartedKind) {
  IIPPTZApiEx* dome = Dome();
  const std::uint64_t from = Mark();
  ASSERT_EQ(dome->FocusNear(5), 1);
  ASSERT_EQ(dome->IrisOpen(5), 1);
  ASSERT_EQ(dome->ZoomIn(5), 1);
  ASSERT_EQ(dome->Move(0, 5), 1);
  ASSERT_EQ(dome->Move(1, 5), 1);
  EXPECT_EQ(dome->StopMotion(), 1);
  QueueMarker(dome, from);
  std::size_t stops = 0;
  for (const std::string& command : CommandsSince(from)) stops += command == "camera/ptz/stop";
  EXPECT_EQ(stops, 4u);
}

TEST_F(GatewayPTZControlTest, MissingCapabilitiesGiveMinus19AndSetNoFlag) {
  driver.cameras[1] = Camera("cam-2", true, "Pan=0, Tilt=0, Zoom=1, Focus=0, Iris=0, Preset=0");
  handler = std::make_unique<CGatewayPTZHandler>(&driver, 2);
  IIPPTZApiEx* dome = Dome();
  struct Case {
    const char* name;
    std::function<int(IIPPTZApi*)> call;
  };
  const std::vector<Case> cases = {
      {"Move", [](IIPPTZApi* a) { return a->Move(0, 5); }},
      {"ZoomIn", [](IIPPTZApi* a) { return a->ZoomIn(5); }},
      {"ZoomOut", [](IIPPTZApi* a) { return a->ZoomOut(5); }},
      {"FocusNear", [](IIPPTZApi* a) { return a->FocusNear(5); }},
      {"FocusFar", [](IIPPTZApi* a) { return a->FocusFar(5); }},
      {"IrisOpen", [](IIPPTZApi* a) { return a->IrisOpen(5); }},
      {"IrisClose", [](IIPPTZApi* a) { return a->IrisClose(5); }},
      {"CenterAt", [](IIPPTZApi* a) { return a->CenterAt(1, 2, 3); }},
      {"UnzoomView", [](IIPPTZApi* a) { return a->UnzoomView(1); }},
      {"ZoomToArea", [](IIPPTZApi* a) { return a->ZoomToArea(1, 2, 3, 4); }},
  };
  const std::uint64_t from = Mark();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(dome), -19);
  }
  EXPECT_EQ(dome->StopMotion(), 1);
  Barrier();
  EXPECT_EQ(CommandsSince(from), (std::vector<std::string>{"user/barrier"}));
}

TEST_F(GatewayPTZControlTest, CapabilitiesFillWordsOneToThirteenAndLeaveWordZero) {
  driver.cameras[1] =
      Camera("cam-2", true,
             "Pan=1, Tilt=0, Zoom=1, Focus=0, Iris=1, Center=1, Unzoom=0, AreaZoom=1, Preset=9");
  handler = std::make_unique<CGatewayPTZHandler>(&driver, 2);
  IIPPTZApiEx* dome = Dome();
  EXPECT_EQ(dome->GetCapabilities(nullptr), -3);

  PtzCapabilityRecord record;
  std::memset(&record, 0xAB, sizeof record);
  ASSERT_EQ(dome->GetCapabilities(&record), 1);
  const std::uint32_t words[14] = {0xABABABABu, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0};
  std::uint32_t got[14];
  std::memcpy(got, &record, sizeof got);
  for (int i = 0; i < 14; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i], words[i]);
  }

  ASSERT_EQ(dome->Initialize(), 1);
  ASSERT_EQ(RefreshUntilLoaded(dome, 3), 3);
  ASSERT_EQ(dome->GetCapabilities(&record), 1);
  EXPECT_EQ(record.maxPresets, 3u);
  EXPECT_EQ(record.presetCount, 3u);
  EXPECT_EQ(record.hostWord, 0xABABABABu);
}

TEST_F(GatewayPTZControlTest, PresetsNeedInitializeThenFollowTheGateway) {
  IIPPTZApiEx* dome = Dome();
  const std::uint64_t from = Mark();
  EXPECT_EQ(dome->RefreshPresets(), 0);
  EXPECT_EQ(dome->GoToPreset(1, "Door"), -23);
  EXPECT_EQ(dome->AddPreset("Pier"), -18);
  EXPECT_EQ(dome->RemovePreset("Door"), -23);
  Barrier();
  EXPECT_EQ(CommandsSince(from), (std::vector<std::string>{"user/barrier"}));

  ASSERT_EQ(dome->Initialize(), 1);
  ASSERT_EQ(RefreshUntilLoaded(dome, 3), 3);

  char buffer[8];
  EXPECT_EQ(dome->GetPresetName(1, buffer, 5), 1);
  EXPECT_STREQ(buffer, "Gate");
  EXPECT_EQ(dome->GetPresetName(1, buffer, 4), -3);  // no room for the zero
  EXPECT_EQ(dome->GetPresetName(3, buffer, sizeof buffer), -23);
  EXPECT_EQ(dome->GetPresetName(0, nullptr, sizeof buffer), -3);
  EXPECT_EQ(dome->GetCurrentPresetName(buffer, sizeof buffer), -23);

  EXPECT_EQ(dome->GoToPreset(1, nullptr), -3);
  EXPECT_EQ(dome->GoToPreset(1, "Nowhere"), -23);
  ASSERT_EQ(dome->GoToPreset(1, "Yard"), 1);
  EXPECT_EQ(dome->GetCurrentPresetName(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "Yard");
  EXPECT_EQ(dome->GetCurrentPresetName(buffer, 4), -3);
  EXPECT_EQ(dome->GetCurrentPresetName(nullptr, 4), -3);

  EXPECT_EQ(dome->AddPreset(nullptr), -3);
  EXPECT_EQ(dome->AddPreset("Bad & name"), -3);
  EXPECT_EQ(dome->AddPreset("Pier"), -26);
  EXPECT_EQ(dome->RemovePreset(nullptr), -3);
  EXPECT_EQ(dome->RemovePreset("Yard"), -23);
  EXPECT_EQ(driver.LevelOf("quorvel::CPrepositionList::AddPreposition: A preposition \"Pier\" "
                           "cannot be added. Camera supports saving not more than 3 "
                           "prepositions."),
            1);

  // Any motion leaves the preset.
  ASSERT_EQ(dome->FocusFar(3), 1);
  EXPECT_EQ(dome->GetCurrentPresetName(buffer, sizeof buffer), -23);
}

TEST_F(GatewayPTZControlTest, ParamsFlagsAndFeatureQuery) {
  IIPPTZApiEx* dome = Dome();
  IIPParams* params = dynamic_cast<IIPParams*>(dome);
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->GetParamFlag1(), 0);
  EXPECT_EQ(params->GetParamFlag2(), 0);
  EXPECT_EQ(params->SetParamFlag1(7), 7);
  EXPECT_EQ(params->SetParamFlag2(200), 200);
  EXPECT_EQ(params->GetParamFlag1(), 7);
  EXPECT_EQ(params->GetParamFlag2(), 200);
  for (std::uint32_t value : {0u, 1u, 2u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(value);
    EXPECT_EQ(dome->QueryFeature(value), value == 1 ? 1 : 0);
  }
}

// A control whose command channel cannot be made.
class ControlWithoutComm : public CBasePTZControl {
 public:
  using CBasePTZControl::CBasePTZControl;
  CBasePTZComm* CreateComm() override { return nullptr; }
};

class HandlerWithoutComm : public CBasePTZHandler {
 public:
  using CBasePTZHandler::CBasePTZHandler;
  CBasePTZControl* CreateControl(std::uint32_t channel) override {
    ++created;
    return new ControlWithoutComm(Driver(), channel);
  }
  int created = 0;
};

TEST(PTZControlWithoutCommTest, EveryCommandAnswersNotPossible) {
  ControlWithoutComm control(nullptr, 0);
  EXPECT_FALSE(control.OpenComm());
  PtzCapabilityRecord record{};
  const std::vector<std::pair<const char*, std::function<int()>>> calls = {
      {"Initialize", [&] { return control.Initialize(); }},
      {"Move", [&] { return control.Move(10, 1); }},
      {"StopMotion", [&] { return control.StopMotion(); }},
      {"CenterAt", [&] { return control.CenterAt(1, 2, 3); }},
      {"ZoomIn", [&] { return control.ZoomIn(1); }},
      {"ZoomOut", [&] { return control.ZoomOut(1); }},
      {"UnzoomView", [&] { return control.UnzoomView(1); }},
      {"ZoomToArea", [&] { return control.ZoomToArea(1, 2, 3, 4); }},
      {"FocusNear", [&] { return control.FocusNear(1); }},
      {"FocusFar", [&] { return control.FocusFar(1); }},
      {"IrisOpen", [&] { return control.IrisOpen(1); }},
      {"IrisClose", [&] { return control.IrisClose(1); }},
      {"GetCapabilities", [&] { return control.GetCapabilities(&record); }},
      {"GetCapabilities(null)", [&] { return control.GetCapabilities(nullptr); }},
  };
  for (const auto& call : calls) {
    SCOPED_TRACE(call.first);
    EXPECT_EQ(call.second(), -18);
  }
  EXPECT_EQ(control.RefreshPresets(), 0);
}

TEST(PTZHandlerWithoutCommTest, AControlThatCannotOpenIsNotKeptAndIsTriedAgain) {
  HandlerWithoutComm handler(nullptr, 4);
  EXPECT_EQ(handler.GetPTZApiEx(2), nullptr);
  EXPECT_EQ(handler.GetPTZApi(2), nullptr);
  EXPECT_EQ(handler.created, 2);
  EXPECT_EQ(handler.GetPTZApiEx(4), nullptr);
  EXPECT_EQ(handler.created, 2);
}

}  // namespace
}  // namespace quorvel
