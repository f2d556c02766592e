// Shared by the video unit tests: a driver at 10.0.0.5 with two cameras and
// no settings file, so every stream is full rate.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "frame_allocator.h"
#include "frame_handler.h"
#include "support/fake_driver.h"
#include "support/messages.h"
#include "support/recording_client.h"
#include "support/temp_home.h"
#include "video/video_channel.h"
#include "video/video_manager.h"

namespace quorvel {
namespace video_test {

inline ServerMessage StreamMessage(test_support::Headers headers, const std::string& body = {}) {
  headers.insert(headers.begin(), {"Response", "video/stream"});
  return test_support::MakeServerMessage(headers, body);
}

struct Handler : strevon::host::FrameHandler {
  void OnSignalLost() override {
    FrameHandler::OnSignalLost();
    if (onSignalLost) onSignalLost();
  }
  std::function<void()> onSignalLost;
};

class VideoTest : public ::testing::Test {
 public:
  VideoTest() : manager(&client) {
    driver.device.address = "10.0.0.5";
    driver.allocator = &allocator;
    driver.cameras.resize(2);
    driver.cameras[0].pid = "cam-1";
    driver.cameras[1].pid = "cam-2";
    manager.SetDriver(&driver);
  }
  std::unique_ptr<CVideoChannel> MakeChannel(std::uint32_t number, bool withHandler = true) {
    return std::make_unique<CVideoChannel>(number, &driver, withHandler ? &handler : nullptr,
                                           &manager);
  }

  test_support::TempHome home;
  test_support::FakeDriver driver;
  strevon::host::FrameAllocator allocator;
  Handler handler;
  test_support::RecordingClient client;
  CVideoManager manager;
};

}  // namespace video_test
}  // namespace quorvel
