// Device properties written into a host's result sink.
#include <gtest/gtest.h>

#include <array>
#include <set>

#include "capability_sink.h"
#include "support/filled_properties.h"

namespace quorvel {
namespace {

using strevon::host::CapabilityResultSink;
using test_support::FilledProperties;

TEST(CameraPropertiesTest, IntervalIsThousandByRatePlusHalfTruncated) {
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> cases = {
      {25, 40}, {30, 33}, {1, 1000}, {3, 333}, {7, 143}, {16, 63}, {60, 17}, {2000, 1}, {0, 1}};
  for (const auto& c : cases) EXPECT_EQ(CBaseCameraProperties::IntervalOf(c.first), c.second) << c.first;
}

TEST(CameraPropertiesTest, AddingASizeAgainKeepsTheSmallerNonZeroInterval) {
  struct Case {
    const char* name;
    std::vector<std::array<std::uint32_t, 3>> added;  // width, height, interval
    std::vector<std::uint32_t> intervals;             // of the entries, in order
  };
  const std::vector<Case> cases = {
      {"smaller replaces", {{640, 480, 40}, {640, 480, 33}}, {33}},
      {"larger is ignored", {{640, 480, 33}, {640, 480, 40}}, {33}},
      {"zero is ignored", {{640, 480, 40}, {640, 480, 0}}, {40}},
      {"zero entry stays zero", {{640, 480, 0}, {640, 480, 40}}, {0}},
      {"zero width or height adds nothing", {{0, 480, 40}, {640, 0, 40}}, {}},
      {"other sizes append in order", {{1280, 720, 40}, {640, 480, 33}}, {40, 33}},
  };
  for (const Case& c : cases) {
    FilledProperties properties;
    for (const auto& a : c.added) properties.AddResolution(a[0], a[1], a[2]);
    std::vector<std::uint32_t> intervals;
    for (const ResolutionEntry& e : properties.GetResolutions()) intervals.push_back(e.frameIntervalMs);
    EXPECT_EQ(intervals, c.intervals) << c.name;
  }
}

TEST(CameraPropertiesTest, FrameIntervalsAscendAndTheDefaultIsTheFirstRateFromHalfTheLargest) {
  struct Case {
    std::set<std::uint32_t> rates;
    std::uint32_t preferred;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {{10, 25, 30}, 0, {"AddInterval 100", "AddInterval 40", "AddInterval 33", "SetDefaultInterval 40"}},
      {{10, 25, 30}, 30, {"AddInterval 100", "AddInterval 40", "AddInterval 33", "SetDefaultInterval 33"}},
      {{0, 25}, 0, {"AddInterval 40", "SetDefaultInterval 40"}},
      {{10, 25}, 50, {"AddInterval 100", "AddInterval 40"}},  // none reaches the preferred rate
      {{}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.rates) + " preferred " + std::to_string(c.preferred));
    FilledProperties properties;
    properties.m_frameRates = c.rates;
    properties.m_preferredFrameRate = c.preferred;
    CapabilityResultSink sink;
    EXPECT_EQ(properties.SaveFrameIntervals(sink.GetFrameIntervalList(1)), !c.rates.empty());
    std::vector<std::string> calls = sink.Calls();
    calls.erase(calls.begin());  // GetFrameIntervalList
    EXPECT_EQ(calls, c.calls);
  }
  EXPECT_FALSE(FilledProperties().Complete().SaveFrameIntervals(nullptr));
}

TEST(CameraPropertiesTest, SaveStopsAtTheFirstStepWithNothingToReport) {
  struct Case {
    const char* name;
    void (*spoil)(FilledProperties&);
    const char* lastCall;  // the sink's last recorded call; Save succeeds only after "SetValue"
  };
  const std::vector<Case> cases = {
      {"complete", [](FilledProperties&) {}, "SetValue (none)"},
      {"no device name", [](FilledProperties& p) { p.m_deviceName.clear(); }, nullptr},
      {"no codec kind", [](FilledProperties& p) { p.m_codecKinds.clear(); }, "InfoItem 4 "},
      {"unknown codec kind only", [](FilledProperties& p) { p.m_codecKinds = {4}; }, "InfoItem 4 "},
      {"no channel", [](FilledProperties& p) { p.m_channelCount = 0; }, "SetCapability 7 1"},
      {"no resolution", [](FilledProperties& p) { p.m_resolutions.clear(); }, "GetResolutionList"},
      {"no frame rate", [](FilledProperties& p) { p.m_frameRates.clear(); }, "GetFrameIntervalList 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FilledProperties properties;
    c.spoil(properties.Complete());
    CapabilityResultSink sink;
    const bool saved = properties.Save(&sink);
    const std::vector<std::string> calls = sink.Calls();
    EXPECT_EQ(calls.empty() ? "" : calls.back(), c.lastCall != nullptr ? c.lastCall : "");
    EXPECT_EQ(saved, calls.size() > 1 && calls.back() == "SetValue (none)");
  }
  EXPECT_FALSE(FilledProperties().Complete().Save(nullptr));
}

// Without rates Save stops at the intervals, with the resolutions written.
TEST(CameraPropertiesTest, ResolutionWithoutIntervalTakesTheLargestRateOrTheVideoStandard) {
  for (const auto& c : std::vector<std::array<std::uint32_t, 3>>{  // standard, largest rate, interval
           {0, 30, 33}, {0, 0, 40}, {1, 0, 33}}) {
    FilledProperties properties(c[0]);
    properties.Complete().m_resolutions.clear();
    properties.AddResolution(320, 240, 0);
    properties.m_frameRates.clear();
    if (c[1] != 0) properties.m_frameRates = {10, c[1]};
    CapabilityResultSink sink;
    properties.Save(&sink);
    ASSERT_EQ(sink.Resolutions().size(), 1u);
    EXPECT_EQ(sink.Resolutions()[0].intervalMs, c[2]) << c[0] << " " << c[1];
  }
}

}  // namespace
}  // namespace quorvel
