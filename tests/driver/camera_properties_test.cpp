// Device properties written into a host's result sink: frame intervals,
// the resolution adding rule and the points where Save stops.
#include "driver/camera_properties.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "capability_sink.h"

namespace quorvel {
namespace {

using strevon::host::CapabilityResultSink;

// Properties filled by hand instead of by a device.
class FilledProperties : public CBaseCameraProperties {
 public:
  explicit FilledProperties(std::uint32_t videoStandard = 0)
      : CBaseCameraProperties(Device(), videoStandard) {}

  static DEVICE_INFO Device() {
    DEVICE_INFO device;
    device.address = "gw.local";
    device.port = 8080;
    device.userName = "user";
    device.password = "";
    return device;
  }

  // Everything Save needs to get through.
  void FillComplete() {
    m_deviceName = "gw.local";
    m_codecKinds = {3};
    m_channelCount = 2;
    AddResolution(640, 480, 40);
    m_frameRates = {25};
  }

  bool SaveParameters(ipcapture::ICapabilityResultSink* sink) override {
    WriteParameter(sink, 1, "Only", 0, "");
    return true;
  }
  bool Fetch(int*) override { return true; }

  using CBaseCameraProperties::m_channelCount;
  using CBaseCameraProperties::m_codecKinds;
  using CBaseCameraProperties::m_deviceName;
  using CBaseCameraProperties::m_frameRates;
  using CBaseCameraProperties::m_inputCount;
  using CBaseCameraProperties::m_manufacturer;
  using CBaseCameraProperties::m_preferredFrameRate;
  using CBaseCameraProperties::m_resolutions;
};

TEST(CameraPropertiesTest, IntervalIsThousandByRatePlusHalfTruncated) {
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> cases = {
      {25, 40}, {30, 33}, {1, 1000}, {3, 333}, {7, 143}, {16, 63}, {60, 17}, {2000, 1}, {0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(CBaseCameraProperties::IntervalOf(c.first), c.second);
  }
}

TEST(CameraPropertiesTest, AddingASizeAgainKeepsTheSmallerNonZeroInterval) {
  struct Step {
    std::uint32_t width, height, interval;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::uint32_t> intervals;  // of the entries, in order
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
    SCOPED_TRACE(c.name);
    FilledProperties properties;
    for (const Step& s : c.steps) properties.AddResolution(s.width, s.height, s.interval);
    std::vector<std::uint32_t> intervals;
    for (const ResolutionEntry& e : properties.GetResolutions()) intervals.push_back(e.frameIntervalMs);
    EXPECT_EQ(intervals, c.intervals);
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
      // Nothing reaches the preferred rate: no default.
      {{10, 25}, 50, {"AddInterval 100", "AddInterval 40"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.rates) + " preferred " + std::to_string(c.preferred));
    FilledProperties properties;
    properties.m_frameRates = c.rates;
    properties.m_preferredFrameRate = c.preferred;
    CapabilityResultSink sink;
    EXPECT_TRUE(properties.SaveFrameIntervals(sink.GetFrameIntervalList(1)));
    std::vector<std::string> calls = sink.Calls();
    calls.erase(calls.begin());  // GetFrameIntervalList
    EXPECT_EQ(calls, c.calls);
  }
  FilledProperties empty;
  CapabilityResultSink sink;
  EXPECT_FALSE(empty.SaveFrameIntervals(sink.GetFrameIntervalList(1)));
  EXPECT_FALSE(empty.SaveFrameIntervals(nullptr));
}

TEST(CameraPropertiesTest, SaveStopsAtTheFirstStepWithNothingToReport) {
  struct Case {
    const char* name;
    void (*spoil)(FilledProperties&);
    bool result;
    const char* lastCall;  // the sink's last recorded call
  };
  const std::vector<Case> cases = {
      {"complete", [](FilledProperties&) {}, true, "SetValue (none)"},
      {"no device name", [](FilledProperties& p) { p.m_deviceName.clear(); }, false, nullptr},
      {"no codec kind", [](FilledProperties& p) { p.m_codecKinds.clear(); }, false, "InfoItem 4 "},
      {"unknown codec kind only", [](FilledProperties& p) { p.m_codecKinds = {4}; }, false,
       "InfoItem 4 "},
      {"no channel", [](FilledProperties& p) { p.m_channelCount = 0; }, false, "SetCapability 7 1"},
      {"no resolution", [](FilledProperties& p) { p.m_resolutions.clear(); }, false,
       "GetResolutionList"},
      {"no frame rate", [](FilledProperties& p) { p.m_frameRates.clear(); }, false,
       "GetFrameIntervalList 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FilledProperties properties;
    properties.FillComplete();
    c.spoil(properties);
    CapabilityResultSink sink;
    EXPECT_EQ(properties.Save(&sink), c.result);
    const std::vector<std::string> calls = sink.Calls();
    if (c.lastCall == nullptr) {
      EXPECT_TRUE(calls.empty());
    } else {
      ASSERT_FALSE(calls.empty());
      EXPECT_EQ(calls.back(), c.lastCall);
    }
  }
  FilledProperties properties;
  properties.FillComplete();
  EXPECT_FALSE(properties.Save(nullptr));
}

TEST(CameraPropertiesTest, SaveWritesNameConnectionFlagsAndCountsInOrder) {
  FilledProperties properties;
  properties.FillComplete();
  properties.m_manufacturer = "Gateway";
  properties.m_codecKinds = {3, 1, 2};
  properties.m_inputCount = 3;
  CapabilityResultSink sink;
  ASSERT_TRUE(properties.Save(&sink));
  const std::vector<std::string> expected = {
      "SetDeviceName Gateway gw.local",
      "GetInfoItem 1", "InfoItem 1 gw.local",
      "GetInfoItem 2", "InfoItem 2 8080",
      "GetInfoItem 3", "InfoItem 3 user",
      "GetInfoItem 4", "InfoItem 4 ",
      "SetCapability 8 1", "SetCapability 6 1", "SetCapability 7 1", "SetCapability 0 2",
      "GetResolutionList", "AddResolution 640x480 640 480 40",
      "GetFrameIntervalList 1", "AddInterval 40", "SetDefaultInterval 40",
      "SetCapability 11 0", "SetCapability 12 0", "SetCapability 2 3",
      "AddParameter 1", "SetName Only", "SetOption 0", "SetPerObject 0", "SetValue (none)"};
  EXPECT_EQ(sink.Calls(), expected);
}

TEST(CameraPropertiesTest, ResolutionWithoutIntervalTakesTheLargestRate) {
  struct Case {
    std::uint32_t videoStandard;
    std::set<std::uint32_t> rates;
    std::uint32_t interval;
  };
  // Without rates Save stops at the intervals, but the resolutions are
  // already written by then.
  const std::vector<Case> cases = {{0, {10, 30}, 33}, {0, {}, 40}, {1, {}, 33}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.interval);
    FilledProperties properties(c.videoStandard);
    properties.FillComplete();
    properties.m_resolutions.clear();
    properties.AddResolution(320, 240, 0);
    properties.m_frameRates = c.rates;
    CapabilityResultSink sink;
    properties.Save(&sink);
    ASSERT_EQ(sink.Resolutions().size(), 1u);
    EXPECT_EQ(sink.Resolutions()[0].intervalMs, c.interval);
  }
}

}  // namespace
}  // namespace quorvel
