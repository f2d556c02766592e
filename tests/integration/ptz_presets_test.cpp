// Presets through the host's PTZ control against the simulated Gateway: the
// names come from the Gateway's properties, recall goes out by name, and
// the Gateway cannot store new presets.
#include "ptz_fixture.h"

namespace strevon {
namespace integration {
namespace {

using quorvel::IIPPTZApiEx;

std::string NameAt(IIPPTZApiEx* api, std::uint32_t position) {
  char buffer[64] = {};
  return api->GetPresetName(position, buffer, sizeof buffer) == 1 ? buffer : "<none>";
}

std::string Current(IIPPTZApiEx* api) {
  char buffer[64] = {};
  return api->GetCurrentPresetName(buffer, sizeof buffer) == 1 ? buffer : "<none>";
}

TEST_F(PtzFixture, PresetsFollowTheGatewayAndRecallGoesOutByName) {
  OpenConnected();
  IIPPTZApiEx* dome = ptz->GetPTZApiEx(1);
  ASSERT_NE(dome, nullptr);
  // Not connected to the presets until Initialize.
  EXPECT_EQ(dome->RefreshPresets(), 0);
  EXPECT_EQ(dome->AddPreset("Pier"), -18);
  ASSERT_EQ(dome->Initialize(), 1);
  ASSERT_TRUE(RefreshUntil(dome, 3));
  EXPECT_EQ(NameAt(dome, 0), "Door");
  EXPECT_EQ(NameAt(dome, 1), "Gate");
  EXPECT_EQ(NameAt(dome, 2), "Yard");
  EXPECT_EQ(NameAt(dome, 3), "<none>");
  quorvel::PtzCapabilityRecord record{};
  ASSERT_EQ(dome->GetCapabilities(&record), 1);
  EXPECT_EQ(record.maxPresets, 3u);
  EXPECT_EQ(record.presetCount, 3u);

  const std::uint64_t from = Mark();
  ASSERT_EQ(dome->GoToPreset(12, "Gate"), 1);
  const auto recall = WaitFor("camera/ptz/preset", from);
  ASSERT_TRUE(recall.has_value());
  EXPECT_EQ(recall->raw_text, "camera/ptz/preset?pid=cam-2&name=Gate");
  EXPECT_EQ(Current(dome), "Gate");
  EXPECT_EQ(dome->GoToPreset(12, "Pier"), -23);
  EXPECT_EQ(Current(dome), "Gate");

  // The Gateway keeps its own presets: adding is refused, removing finds
  // nothing it may delete.
  EXPECT_EQ(dome->AddPreset("Pier"), -26);
  EXPECT_EQ(dome->AddPreset("Pier & Co"), -3);
  EXPECT_EQ(dome->RemovePreset("Gate"), -23);
  EXPECT_EQ(NameAt(dome, 1), "Gate");

  ASSERT_EQ(dome->Move(0, 5), 1);
  EXPECT_EQ(Current(dome), "<none>");

  // A camera that is not a PTZ camera has a control but no presets.
  IIPPTZApiEx* plain = ptz->GetPTZApiEx(0);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->Initialize(), -18);
  EXPECT_EQ(plain->RefreshPresets(), 0);
  EXPECT_EQ(plain->AddPreset("Pier"), -18);
  EXPECT_EQ(plain->GoToPreset(1, "Door"), -23);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
