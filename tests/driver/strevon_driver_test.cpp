// The driver object itself: custom parameters, device limits and the host
// boundary by slot position.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/camera_record.h"
#include "debug_sink.h"
#include "device_setup.h"
#include "driver/driver_handle.h"
#include "driver/strevon_driver.h"
#include "frame_allocator.h"
#include "support/temp_home.h"

namespace quorvel {
namespace {

class StrevonDriverTest : public ::testing::Test {
 protected:
  // Opens against a port nothing listens on: the lists are built at Open,
  // whatever the Gateway does.
  bool Open(std::uint32_t channels, std::uint32_t inputs, std::uint32_t outputs,
            std::vector<std::string> custom, ipcapture::IIPCaptureDriver* target = nullptr) {
    strevon::host::DeviceConfig config;
    config.channelCount = channels;
    config.inputCount = inputs;
    config.outputCount = outputs;
    config.port = 1;
    config.customParameters = std::move(custom);
    setup = std::make_unique<strevon::host::DeviceSetup>(config);
    return (target != nullptr ? target : &driver)->Open(&sink, &allocator, setup.get());
  }

  test_support::TempHome home;
  strevon::host::DebugSink sink;
  strevon::host::FrameAllocator allocator;
  std::unique_ptr<strevon::host::DeviceSetup> setup;
  CStrevonDriver driver;
};

TEST_F(StrevonDriverTest, CustomParametersBecomeTheCameraAndIOLists) {
  const std::string none = "Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0";
  struct Case {
    const char* name;
    std::uint32_t channels, inputs, outputs;
    std::vector<std::string> custom;
    std::vector<std::string> cameras, inputList, outputList;
    std::uint32_t videoStandard;
  };
  const std::vector<Case> cases = {
      {"the running index: channels, then inputs, then outputs", 4, 1, 1,
       {"1", "3", "5;pidA;1;Pan=1, Tilt=1, Zoom=0, Preset=8", "(none)", "6;pidB;1;", "7;pidC;0;Pan=0",
        "0;in-1", "2;out-9"},
       // An empty channel is skipped, one of three pieces dropped; the
       // camera after them takes their place in the list.
       {"5 pidA ptz Pan=1, Tilt=1, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=8",
        "7 pidC " + none},
       {"0 in-1"}, {"2 out-9"}, 1},
      {"a reopen drops the old lists", 1, 0, 0, {"0", "3", "1;second;0;Pan=0"}, {"1 second " + none},
       {}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Open(c.channels, c.inputs, c.outputs, c.custom));
    std::vector<std::string> cameras, inputs, outputs;
    for (const CameraRecord& k : driver.GetCameraList()) {
      cameras.push_back(std::to_string(k.id) + " " + k.pid + (k.ptz ? " ptz " : " ") +
                        k.ptzCapabilities.ToString());
    }
    for (const IORecord& io : driver.GetInputList()) inputs.push_back(std::to_string(io.id) + " " + io.pid);
    for (const IORecord& io : driver.GetOutputList()) outputs.push_back(std::to_string(io.id) + " " + io.pid);
    EXPECT_EQ(cameras, c.cameras);
    EXPECT_EQ(inputs, c.inputList);
    EXPECT_EQ(outputs, c.outputList);
    EXPECT_EQ(driver.GetVideoStandard(), c.videoStandard);
    EXPECT_EQ(driver.GetCaptureIO() != nullptr, c.inputs + c.outputs > 0) << "an I/O object without I/O";
    driver.Close();
  }
}

TEST_F(StrevonDriverTest, OversizedDeviceIsRefusedAndParametersReadAsTextOrNumber) {
  struct Case {
    std::uint32_t channels, inputs, outputs;
  } cases[] = {{kMaxChannelCount + 1, 0, 0}, {1, kMaxIOCount + 1, 0}, {1, 0, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    EXPECT_FALSE(Open(c.channels, c.inputs, c.outputs, {"0", "3"}))
        << c.channels << "/" << c.inputs << "/" << c.outputs;
  }
  EXPECT_TRUE(Open(kMaxChannelCount, 0, 0, {"0", "3", "(none)", "abc", "-12"}));
  ASSERT_NE(driver.GetVideoCapture(), nullptr);
  EXPECT_EQ(driver.GetVideoCapture()->GetChannelCount(), kMaxChannelCount);
  EXPECT_EQ(driver.GetCustomParameter(3), "");  // the host's word for an empty value
  EXPECT_EQ(driver.GetCustomParameter(4), "abc");
  EXPECT_EQ(driver.GetCustomParameter(99), "");
  for (int missing : {3, 4}) EXPECT_EQ(driver.GetCustomParameterInt(missing), kMissingCustomParameter);
  EXPECT_EQ(driver.GetCustomParameterInt(5), -12);
}

// A host compiled elsewhere calls by slot position only. Calls through the
// raw vtable of what the exports hand out pin the slot order.
TEST_F(StrevonDriverTest, HostSlotsByPosition) {
  const std::unique_ptr<CDriverHandle> handle(CDriverHandle::Create());
  ipcapture::IIPCaptureDriverEx3* host = handle.get();
  ASSERT_TRUE(Open(1, 1, 0, {"0", "3", "1;cam;1;Pan=1", "0;in"}, host));
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
}

}  // namespace
}  // namespace quorvel
