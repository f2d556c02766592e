// strevon-host as a user runs it: the real tool process, the real driver
// library, the Gateway simulator on a loopback port. Checks what the tool
// prints, what it saves (device file, JPEG frames of the right size, the
// mosaic, summary.json), what the Gateway received, and the errors a user
// gets for the usual mistakes.
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "gateway_simulator.h"
#include "jpeg_codec.h"
#include "tool_runner.h"

namespace strevon {
namespace hosttool {
namespace {

using namespace std::chrono_literals;
using test::RunTool;
using test::ToolResult;

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class HostToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/strevon-host-it-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    std::ofstream(dir + "/Strevon.xml") << ReadFile(STREVON_DEMO_SETTINGS);
    simulator = std::make_unique<sim::GatewaySimulator>();
    std::string error;
    ASSERT_TRUE(simulator->Start(0, &error)) << error;
    gateway = "127.0.0.1:" + std::to_string(simulator->Port());
  }

  void TearDown() override {
    simulator.reset();
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) ADD_FAILURE() << "cleanup";
  }

  ToolResult Tool(std::vector<std::string> args, std::chrono::milliseconds timeout = 60s) {
    args.insert(args.begin(), STREVON_HOST_EXE);
    ToolResult r = RunTool(args, {"STREVON_HOME=" + dir}, timeout);
    EXPECT_FALSE(r.timedOut) << r.output;
    return r;
  }

  // Queries the simulator and saves the device file.
  std::string SaveDevice() {
    const std::string path = dir + "/device.json";
    const ToolResult r =
        Tool({"query", gateway, "--user", "admin", "--password", "admin", "--save", path});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return path;
  }

  std::string dir;
  std::string gateway;
  std::unique_ptr<sim::GatewaySimulator> simulator;
};

TEST_F(HostToolTest, QueryPrintsTheDeviceAndSavesItsParameters) {
  const std::string path = dir + "/device.json";
  const ToolResult r = Tool({"query", gateway, "-u", "admin", "-p", "admin", "--save", path});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Device name  Gateway 127.0.0.1"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Channels     4"), std::string::npos);
  EXPECT_NE(r.output.find("640x480       640     480  40 ms (25 fps)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Frame intervals  40 ms; default 40 ms"), std::string::npos);
  EXPECT_NE(r.output.find("3  Channel 1"), std::string::npos);
  EXPECT_NE(r.output.find("1  cam-2   yes  Pan=1"), std::string::npos) << r.output;

  const nlohmann::json device = nlohmann::json::parse(ReadFile(path));
  EXPECT_EQ(device["port"], simulator->Port());
  EXPECT_EQ(device["channels"], 4);
  EXPECT_EQ(device["inputs"], 2);
  EXPECT_EQ(device["outputs"], 2);
  ASSERT_EQ(device["parameters"].size(), 10u);
  EXPECT_EQ(device["parameters"][3]["name"], "Channel 2");
  EXPECT_EQ(device["parameters"][9]["value"], "1;out-2");
}

TEST_F(HostToolTest, QueryWithTheFreeModuleGivesTheSameAnswer) {
  const ToolResult r = Tool({"query", gateway, "-u", "admin", "-p", "admin", "--module"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("10  Output 1"), std::string::npos) << r.output;
}

TEST_F(HostToolTest, RefusedLogOnPrintsTheDriversText) {
  const ToolResult r = Tool({"query", gateway, "-u", "admin", "-p", "wrong"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("query failed (status 1): Failed to get camera properties, login failed "
                          "(invalid credentials)"),
            std::string::npos)
      << r.output;
}

TEST_F(HostToolTest, UnreachableGatewayIsNamed) {
  const std::string port = std::to_string(simulator->Port());
  simulator.reset();
  const ToolResult r = Tool({"query", "127.0.0.1:" + port, "-u", "admin", "-p", "admin"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("is unreachable: Connection refused"), std::string::npos) << r.output;
}

TEST_F(HostToolTest, MissingLibraryIsNamed) {
  const ToolResult r = Tool({"--lib", dir + "/nope.so", "query", gateway, "-u", "a", "-p", "b"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("driver library not found: " + dir + "/nope.so"), std::string::npos)
      << r.output;
}

TEST_F(HostToolTest, StreamSavesValidFramesOfEveryChannelAMosaicAndASummary) {
  const std::string device = SaveDevice();
  const std::string out = dir + "/out";
  const ToolResult r = Tool({"stream", "--device", device, "--seconds", "6", "--out", out,
                             "--every", "5", "--plain"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("4 channel(s) started"), std::string::npos) << r.output;
  const std::size_t summaryAt = r.output.find("Summary");
  ASSERT_NE(summaryAt, std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  ch1      cam-2   stopped", 0), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  ch3      cam-4  ", summaryAt), std::string::npos) << r.output;

  JpegCodec codec;
  std::string error;
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    const std::string text = ReadFile(out + "/ch" + std::to_string(ch) + ".jpg");
    RgbImage image;
    ASSERT_TRUE(codec.Decode({text.begin(), text.end()}, &image, &error)) << error;
    EXPECT_EQ(image.width, 640);
    EXPECT_EQ(image.height, 480);
    EXPECT_TRUE(std::ifstream(out + "/ch" + std::to_string(ch) + "-000005.jpg").good());
  }
  const std::string mosaicText = ReadFile(out + "/mosaic.jpg");
  RgbImage mosaic;
  ASSERT_TRUE(codec.Decode({mosaicText.begin(), mosaicText.end()}, &mosaic, &error)) << error;
  EXPECT_EQ(mosaic.width, 2 * 320 + 3 * 2);
  EXPECT_EQ(mosaic.height, 2 * 240 + 3 * 2);

  const nlohmann::json summary = nlohmann::json::parse(ReadFile(out + "/summary.json"));
  EXPECT_TRUE(summary["ok"].get<bool>()) << summary.dump(2);
  ASSERT_EQ(summary["channels"].size(), 4u);
  for (const auto& c : summary["channels"]) {
    EXPECT_GT(c["frames"].get<int>(), 0);
    EXPECT_EQ(c["fourcc"], "JPEG");
    EXPECT_EQ(c["lost_frames"], 0);
  }
  EXPECT_EQ(summary["devices"][0]["release_violations"], 0);
  EXPECT_EQ(summary["devices"][0]["frames_allocated"], summary["devices"][0]["frames_released"]);
}

TEST_F(HostToolTest, StreamStraightFromAnAddressQueriesFirst) {
  const std::string out = dir + "/out";
  const ToolResult r = Tool({"stream", gateway, "-u", "admin", "-p", "admin", "--channels", "2",
                             "--seconds", "6", "--out", out, "--plain"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("querying " + gateway), std::string::npos) << r.output;
  EXPECT_TRUE(std::ifstream(out + "/ch2.jpg").good());
  EXPECT_FALSE(std::ifstream(out + "/ch0.jpg").good());
}

TEST_F(HostToolTest, StreamRefusesAChannelOutOfRange) {
  const std::string device = SaveDevice();
  const ToolResult r = Tool({"stream", "--device", device, "--channels", "0,4", "--out", dir + "/o"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("channel 4 is out of range: the device has 4 channels (0 to 3)"),
            std::string::npos)
      << r.output;
}

TEST_F(HostToolTest, StreamWithAChangedPasswordSaysTheLogOnIsRefused) {
  const std::string device = SaveDevice();
  const ToolResult r = Tool({"stream", "--device", device, "-p", "wrong", "--connect-timeout", "6",
                             "--out", dir + "/o", "--plain"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("login failed (invalid credentials)"), std::string::npos) << r.output;
}

TEST_F(HostToolTest, PtzMovesAndRecallsAPresetOnTheDome) {
  const std::string device = SaveDevice();
  const std::uint64_t from = simulator->Requests().size();
  const ToolResult r = Tool({"ptz", "--device", device, "--move", "left", "--for", "200",
                             "--preset", "Gate"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("PTZ channel 1 (camera cam-2)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Presets: 0 Door, 1 Gate, 2 Yard"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("current preset           Gate"), std::string::npos) << r.output;
  EXPECT_TRUE(simulator->WaitForRequest("camera/ptz/left", nullptr, 5s, from).has_value());
  EXPECT_TRUE(simulator->WaitForRequest("camera/ptz/stop", nullptr, 5s, from).has_value());
  EXPECT_TRUE(simulator
                  ->WaitForRequest("camera/ptz/preset",
                                   [](const sim::RequestRecord& rec) {
                                     const auto it = rec.params.find("name");
                                     return it != rec.params.end() && it->second == "Gate";
                                   },
                                   5s, from)
                  .has_value());
}

TEST_F(HostToolTest, PtzOnAFixedCameraAndAnUnknownPresetAreExplained) {
  const std::string device = SaveDevice();
  ToolResult r = Tool({"ptz", "--device", device, "--channel", "0"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("no PTZ on channel 0 (camera cam-1 is fixed; PTZ channels: 1)"),
            std::string::npos)
      << r.output;
  r = Tool({"ptz", "--device", device, "--preset", "Garage"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("no preset named 'Garage' (presets: Door, Gate, Yard)"), std::string::npos)
      << r.output;
}

TEST_F(HostToolTest, IoTogglesAnOutputAndSeesInputChanges) {
  const std::string device = SaveDevice();
  simulator->SetInputTogglePeriod(500ms);
  const std::uint64_t from = simulator->Requests().size();
  const ToolResult r = Tool({"io", "--device", device, "--toggle", "1", "--watch", "2",
                             "--min-changes", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("output 1 (out-2): toggle sent"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("input 0 (in-1)"), std::string::npos) << r.output;
  EXPECT_TRUE(simulator
                  ->WaitForRequest("switch/toggle",
                                   [](const sim::RequestRecord& rec) {
                                     const auto it = rec.params.find("pid");
                                     return it != rec.params.end() && it->second == "out-2";
                                   },
                                   5s, from)
                  .has_value());
}

TEST_F(HostToolTest, IoRefusesAnOutputOutOfRange) {
  const std::string device = SaveDevice();
  const ToolResult r = Tool({"io", "--device", device, "--toggle", "2"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("output 2 is out of range"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace hosttool
}  // namespace strevon
