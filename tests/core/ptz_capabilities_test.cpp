// The PTZ capability string of a channel's custom parameter; its round trip
// is the fuzzer's.
#include <gtest/gtest.h>

#include "core/camera_record.h"

namespace quorvel {
namespace {

TEST(PtzCapabilitiesTest, TextReadsAsThisRecordAndIsWrittenBackInTheFixedForm) {
  struct Case {
    const char* name;
    const char* text;
    const char* written;
  };
  const Case cases[] = {
      {"everything", "Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=1, Unzoom=1, AreaZoom=1, Preset=255",
       "Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=1, Unzoom=1, AreaZoom=1, Preset=255"},
      {"nothing", "", "Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0"},
      {"only the digit one sets a flag", "Pan=true, Tilt=1,Focus=01, Preset=x",
       "Pan=0, Tilt=1, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0"},
      {"a value at the end is read to the end", "Iris=1,Preset=12",
       "Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=1, Center=0, Unzoom=0, AreaZoom=0, Preset=12"},
      {"zoom is found inside an area zoom written first", "AreaZoom=1, Zoom=0",
       "Pan=0, Tilt=0, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=1, Preset=0"},
      {"center needs pan or tilt", "Zoom=1, Center=1",
       "Pan=0, Tilt=0, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0"},
      {"center with tilt", "Tilt=1, Center=1",
       "Pan=0, Tilt=1, Zoom=0, Focus=0, Iris=0, Center=1, Unzoom=0, AreaZoom=0, Preset=0"},
      {"unzoom and area zoom need zoom", "Pan=1, Tilt=1, Zoom=0, Unzoom=1, AreaZoom=1, Preset=3",
       "Pan=1, Tilt=1, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPtzCapabilities caps;
    caps.FromString(c.text);
    EXPECT_EQ(caps.ToString(), c.written);
  }
}

}  // namespace
}  // namespace quorvel
