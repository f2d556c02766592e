// The driver object itself: custom parameters into camera and I/O lists, the
// IDriver accessors, and the host boundary by slot position.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "debug_sink.h"
#include "device_setup.h"
#include "driver/strevon_driver.h"
#include "frame_allocator.h"

namespace quorvel {
namespace {

class StrevonDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/strevon-driver-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    ASSERT_EQ(setenv("STREVON_HOME", pattern, 1), 0);
  }

  // Opens against a port nothing listens on: the lists are built at Open,
  // whatever the Gateway does.
  bool Open(std::uint32_t channels, std::uint32_t inputs, std::uint32_t outputs,
            std::vector<std::string> custom) {
    strevon::host::DeviceConfig config;
    config.channelCount = channels;
    config.inputCount = inputs;
    config.outputCount = outputs;
    config.port = 1;
    config.userName = "u";
    config.password = "p";
    config.customParameters = std::move(custom);
    setup.reset(new strevon::host::DeviceSetup(config));
    return driver.Open(&sink, &allocator, setup.get());
  }

  strevon::host::DebugSink sink;
  strevon::host::FrameAllocator allocator;
  std::unique_ptr<strevon::host::DeviceSetup> setup;
  CStrevonDriver driver;
};

TEST_F(StrevonDriverTest, ListsFollowTheRunningParameterIndex) {
  ASSERT_TRUE(Open(4, 1, 1,
                   {"1", "3",
                    "5;pidA;1;Pan=1, Tilt=1, Zoom=0, Preset=8",  // 3: PTZ camera
                    "(none)",                                    // 4: empty, skipped
                    "6;pidB;1;",                                 // 5: three pieces only
                    "7;pidC;0;Pan=0",                            // 6: plain camera
                    "0;in-1",                                    // 7: input
                    "2;out-9"}));                                // 8: output
  const std::vector<CameraRecord>& cameras = driver.GetCameraList();
  ASSERT_EQ(cameras.size(), 2u);
  EXPECT_EQ(cameras[0].id, 5u);
  EXPECT_EQ(cameras[0].pid, "pidA");
  EXPECT_TRUE(cameras[0].ptz);
  EXPECT_TRUE(cameras[0].ptzCapabilities.pan);
  EXPECT_FALSE(cameras[0].ptzCapabilities.zoom);
  EXPECT_EQ(cameras[0].ptzCapabilities.presetCount, 8u);
  // The camera after the empty channel takes its place in the list.
  EXPECT_EQ(cameras[1].id, 7u);
  EXPECT_EQ(cameras[1].pid, "pidC");
  EXPECT_FALSE(cameras[1].ptz);
  ASSERT_EQ(driver.GetInputList().size(), 1u);
  EXPECT_EQ(driver.GetInputList()[0].pid, "in-1");
  ASSERT_EQ(driver.GetOutputList().size(), 1u);
  EXPECT_EQ(driver.GetOutputList()[0].id, 2u);
  EXPECT_EQ(driver.GetOutputList()[0].pid, "out-9");
  EXPECT_EQ(driver.GetVideoStandard(), 1u);
  EXPECT_EQ(driver.GetKalmenoVersion(), 3);
  EXPECT_EQ(driver.GetDeviceInfo()->secondTimeout, 10000u);
  driver.Close();
}

TEST_F(StrevonDriverTest, CustomParameterAccessors) {
  ASSERT_TRUE(Open(0, 0, 0, {"0", "4", "(none)", "abc", "-12"}));
  EXPECT_EQ(driver.GetCustomParameter(3), "");
  EXPECT_EQ(driver.GetCustomParameter(4), "abc");
  EXPECT_EQ(driver.GetCustomParameter(99), "");
  EXPECT_EQ(driver.GetCustomParameterInt(3), kMissingCustomParameter);
  EXPECT_EQ(driver.GetCustomParameterInt(4), kMissingCustomParameter);
  EXPECT_EQ(driver.GetCustomParameterInt(5), -12);
  EXPECT_EQ(driver.GetVideoStandard(), 0u);
  EXPECT_EQ(driver.GetDriverName(), "Strevon");
  driver.Close();
}

TEST_F(StrevonDriverTest, ReopenDropsTheOldLists) {
  ASSERT_TRUE(Open(1, 0, 0, {"0", "3", "1;first;0;"}));
  driver.Close();
  ASSERT_TRUE(Open(1, 0, 0, {"0", "3", "1;second;0;Pan=0"}));
  ASSERT_EQ(driver.GetCameraList().size(), 1u);
  EXPECT_EQ(driver.GetCameraList()[0].pid, "second");
  driver.Close();
}

TEST_F(StrevonDriverTest, OversizedDeviceIsRefused) {
  struct Case {
    std::uint32_t channels, inputs, outputs;
  } cases[] = {{kMaxChannelCount + 1, 0, 0}, {1, kMaxIOCount + 1, 0}, {1, 0, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << "/" << c.inputs << "/" << c.outputs);
    EXPECT_FALSE(Open(c.channels, c.inputs, c.outputs, {"0", "3"}));
  }
  EXPECT_TRUE(Open(kMaxChannelCount, 0, 0, {"0", "3"}));
  ASSERT_NE(driver.GetVideoCapture(), nullptr);
  EXPECT_EQ(driver.GetVideoCapture()->GetChannelCount(), kMaxChannelCount);
  driver.Close();
}

// A host compiled elsewhere calls by slot position only. Calls through the
// raw vtable pin the slot order of the capture interfaces.
TEST_F(StrevonDriverTest, HostSlotsByPosition) {
  ASSERT_TRUE(Open(1, 1, 0, {"0", "3", "1;cam;1;Pan=1", "0;in"}));
  ipcapture::IIPCaptureDriverEx3* host = &driver;
  void** vtable = *reinterpret_cast<void***>(host);
  using Accessor = void* (*)(ipcapture::IIPCaptureDriverEx3*);
  auto slot = [&](int n) { return reinterpret_cast<Accessor>(vtable[n])(host); };
  // Itanium ABI: a virtual destructor takes two entries, so slot n of the
  // interface is entry n + 1 of the table.
  EXPECT_EQ(slot(3 + 1), static_cast<void*>(host->GetVideoCapture()));
  EXPECT_EQ(slot(4 + 1), static_cast<void*>(host->GetCaptureIO()));
  EXPECT_NE(slot(4 + 1), nullptr);
  EXPECT_EQ(slot(5 + 1), nullptr);
  EXPECT_EQ(slot(7 + 1), nullptr);
  EXPECT_EQ(slot(6 + 1), static_cast<void*>(host->GetPTZDriver()));
  EXPECT_EQ(slot(9 + 1), static_cast<void*>(host->GetPTZDriverEx()));
  driver.Close();
}

}  // namespace
}  // namespace quorvel
