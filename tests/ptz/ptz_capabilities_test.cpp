#include <gtest/gtest.h>

#include "strevon.h"

namespace quorvel {
namespace {

CPtzCapabilities Make(bool pan, bool tilt, bool zoom, bool focus, bool iris, bool areaZoom,
                      bool center, bool unzoom, std::uint32_t presets) {
  CPtzCapabilities c;
  c.pan = pan;
  c.tilt = tilt;
  c.zoom = zoom;
  c.focus = focus;
  c.iris = iris;
  c.areaZoom = areaZoom;
  c.center = center;
  c.unzoom = unzoom;
  c.presetCount = presets;
  return c;
}

TEST(PtzCapabilitiesTest, WritesPairsInFixedOrder) {
  EXPECT_EQ(Make(true, true, true, false, false, false, false, false, 16).ToString(),
            "Pan=1, Tilt=1, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=16");
}

TEST(PtzCapabilitiesTest, DependentFlagsNeedTheirFunctions) {
  struct Case {
    const char* name;
    CPtzCapabilities caps;
    const char* expected;
  } cases[] = {
      {"center without pan or tilt", Make(false, false, true, false, false, false, true, false, 0),
       "Pan=0, Tilt=0, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0"},
      {"center with tilt", Make(false, true, false, false, false, false, true, false, 0),
       "Pan=0, Tilt=1, Zoom=0, Focus=0, Iris=0, Center=1, Unzoom=0, AreaZoom=0, Preset=0"},
      {"unzoom and area zoom without zoom", Make(true, true, false, false, false, true, false, true, 3),
       "Pan=1, Tilt=1, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=3"},
      {"everything", Make(true, true, true, true, true, true, true, true, 255),
       "Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=1, Unzoom=1, AreaZoom=1, Preset=255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.caps.ToString(), c.expected);
  }
}

TEST(PtzCapabilitiesTest, ReadsPartialTextAndMissingKeys) {
  CPtzCapabilities c;
  c.FromString("Pan=1, Tilt=0, Zoom=1, Preset=8");
  EXPECT_TRUE(c.pan);
  EXPECT_FALSE(c.tilt);
  EXPECT_TRUE(c.zoom);
  EXPECT_FALSE(c.focus);
  EXPECT_FALSE(c.iris);
  EXPECT_FALSE(c.areaZoom);
  EXPECT_FALSE(c.center);
  EXPECT_FALSE(c.unzoom);
  EXPECT_EQ(c.presetCount, 8u);
}

TEST(PtzCapabilitiesTest, OnlyTheDigitOneSetsAFlag) {
  CPtzCapabilities c;
  c.FromString("Pan=true, Tilt=1,Focus=01, Preset=x");
  EXPECT_FALSE(c.pan);
  EXPECT_TRUE(c.tilt);
  EXPECT_FALSE(c.focus);
  EXPECT_EQ(c.presetCount, 0u);
}

TEST(PtzCapabilitiesTest, ValueAtTheEndIsReadToTheEnd) {
  CPtzCapabilities c;
  c.FromString("Preset=12");
  EXPECT_EQ(c.presetCount, 12u);
  c.FromString("Iris=1");
  EXPECT_TRUE(c.iris);
}

TEST(PtzCapabilitiesTest, ZoomIsFoundInsideAreaZoomWhenAreaZoomComesFirst) {
  CPtzCapabilities c;
  c.FromString("AreaZoom=1, Zoom=0");
  EXPECT_TRUE(c.zoom);
  EXPECT_TRUE(c.areaZoom);
}

TEST(PtzCapabilitiesTest, RoundTripKeepsConsistentRecords) {
  for (unsigned bits = 0; bits < 256; ++bits) {
    const CPtzCapabilities original =
        Make(bits & 1, bits & 2, bits & 4, bits & 8, bits & 16, bits & 32, bits & 64, bits & 128, bits);
    CPtzCapabilities back;
    back.FromString(original.ToString());
    SCOPED_TRACE(original.ToString());
    EXPECT_EQ(back.pan, original.pan);
    EXPECT_EQ(back.tilt, original.tilt);
    EXPECT_EQ(back.zoom, original.zoom);
    EXPECT_EQ(back.focus, original.focus);
    EXPECT_EQ(back.iris, original.iris);
    EXPECT_EQ(back.center, original.center && (original.pan || original.tilt));
    EXPECT_EQ(back.unzoom, original.unzoom && original.zoom);
    EXPECT_EQ(back.areaZoom, original.areaZoom && original.zoom);
    EXPECT_EQ(back.presetCount, original.presetCount);
  }
}

}  // namespace
}  // namespace quorvel
