// The real libstrevon.so, loaded with dlopen by the test host, against the
// Gateway simulator on a loopback port. The fixture owns the home directory,
// the simulator and the host side, which all outlive the driver.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "channel_setup.h"
#include "debug_sink.h"
#include "device_setup.h"
#include "driver_library.h"
#include "frame_allocator.h"
#include "frame_handler.h"
#include "frame_stamp.h"
#include "gateway_simulator.h"
#include "io_callback.h"
#include "strevon.h"
#include "support/temp_home.h"
#include "support/wait.h"
#include "video/frame_description.h"

namespace strevon {
namespace integration {

using namespace std::chrono_literals;
using quorvel::kFourccJpeg;
using quorvel::test_support::WaitUntil;

constexpr std::uint32_t kFourccH264 = 0x34363248;
constexpr int kFrameWidth = 704;
constexpr int kFrameHeight = 288;  // wider than twice the height: size class 3
// Twice the longest stop the driver waits for (worker, video manager).
constexpr int kShutdownMs = 10000;
// A reconnection takes a round of the worker's 1 s loop plus the log-on, a
// stall restart the stall time plus a pass; generous, for the sanitizers.
constexpr auto kReconnectBound = 10s;
constexpr auto kRecoveryBound = 15s;

// Channel 0 full rate, channel 1 motion only. Each channel needs an element
// of its own; the profile name keeps the profile request.
constexpr char kMotionOnChannelOne[] =
    "<Configuration><Common><Profile>service</Profile>"
    "<VideoChannel id=\"0\"><StreamType>FullRate</StreamType></VideoChannel>"
    "<VideoChannel id=\"1\"><StreamType>motion</StreamType></VideoChannel>"
    "</Common></Configuration>";

// The same with "Resilient" on: after a reconnection the driver subscribes
// every stream again at once, which also marks the end of its log-on.
inline std::string WithResilience(const std::string& settings) {
  std::string out = settings;
  return out.insert(out.find("<VideoChannel"), "<Resilient>yes</Resilient>");
}

inline int ThreadCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.' ? 1 : 0;
    closedir(dir);
  }
  return count;
}

// Checks every frame of one channel inside the host's callback, on the
// receiver thread: the stamp names the channel and the body length, every
// filler byte is where the simulator put it, sequence numbers follow each
// other, and what the driver told the frame matches.
class FrameChecker {
 public:
  explicit FrameChecker(std::uint32_t cid, std::uint32_t fourcc = kFourccJpeg) : m_cid(cid), m_fourcc(fourcc) {}
  void Attach(host::FrameHandler& handler) {
    handler.SetHook([this](quorvel::ipcapture::ICaptureFrame* frame, const host::FrameInfo& info) {
      const std::string problem = Problem(frame != nullptr ? frame->GetBuffer() : nullptr, info);
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_problem.empty()) m_problem = problem;
      return true;
    });
  }
  // Empty while every frame was intact.
  std::string FirstProblem() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_problem;
  }

 private:
  std::string Problem(const unsigned char* body, const host::FrameInfo& info) {
    const std::size_t size = info.dataSize;
    sim::FrameStamp stamp;
    if (body == nullptr || !info.finished || info.allocatedSize != size) return "no buffer or size";
    if (info.fourcc != m_fourcc) return "fourcc " + std::to_string(info.fourcc);
    if (info.width != kFrameWidth || info.height != kFrameHeight || info.sizeClass != 3) return "size";
    if (!sim::ReadFrameStamp(body, size, &stamp) || stamp.channel != m_cid || stamp.body_length != size) {
      return "stamp";
    }
    const bool follows = stamp.sequence == 0 || !m_hasLast || stamp.sequence == m_lastSequence + 1;
    m_hasLast = true;
    m_lastSequence = stamp.sequence;
    if (!follows) return "sequence " + std::to_string(stamp.sequence);
    if (stamp.kind == sim::kFrameKindNative) return sim::CheckNativeFiller(body, size, stamp.sequence) ? "" : "filler";
    // SOI, the stamp segment, COM segments of filler bytes, EOI.
    std::size_t p = sim::kJpegStampOffset + sim::kFrameStampSize;
    while (p + 4 <= size && body[p] == 0xFF && body[p + 1] == 0xFE) {
      const std::size_t end = p + 2 + ((static_cast<std::size_t>(body[p + 2]) << 8) | body[p + 3]);
      if (end < p + 4 || end > size) return "segment";
      for (std::size_t k = p + 4; k < end; ++k) {
        if (body[k] != sim::FillerByte(k, stamp.sequence)) return "filler";
      }
      p = end;
    }
    return p + 2 == size && body[p] == 0xFF && body[p + 1] == 0xD9 ? "" : "end";
  }

  const std::uint32_t m_cid;
  const std::uint32_t m_fourcc;
  bool m_hasLast = false;  // receiver thread only
  std::uint64_t m_lastSequence = 0;
  mutable std::mutex m_mutex;
  std::string m_problem;  // guarded by m_mutex
};

class IntegrationFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library.Load(STREVON_LIBRARY_PATH)) << library.Error(); }
  void TearDown() override {
    DestroyDriver();
    simulator.reset();
  }

  // The built-in site cut to two cameras (channel 0 fixed, channel 1 a
  // dome) with synthetic frame bodies; its two inputs and outputs kept.
  static sim::Scenario TwoCameras(bool level2 = false) {
    sim::Scenario s = sim::DefaultScenario();
    s.profiles.at(0).cameras.resize(2);
    s.level2 = level2;
    s.video.width = kFrameWidth;
    s.video.height = kFrameHeight;
    s.video.render_jpeg = false;
    s.video.fps = 25.0;
    s.video.motion_fps = 4.0;
    return s;
  }

  void StartSimulator(const sim::Scenario& s = sim::DefaultScenario()) {
    scenario = s;
    simulator = std::make_unique<sim::GatewaySimulator>(scenario);
    std::string error;
    ASSERT_TRUE(simulator->Start(0, &error)) << error;
    baselineThreads = ThreadCount();
  }

  // Every camera, input and output of the scenario, admin/admin.
  host::DeviceConfig DefaultDevice() {
    const sim::SimProfile& profile = scenario.profiles.at(0);
    host::DeviceConfig config;
    config.channelCount = static_cast<std::uint32_t>(profile.cameras.size());
    config.inputCount = static_cast<std::uint32_t>(profile.inputs.size());
    config.outputCount = static_cast<std::uint32_t>(profile.outputs.size());
    config.port = simulator ? simulator->Port() : 1;
    config.userName = "admin";
    config.password = "admin";
    config.customParameters = sim::CustomParametersFor(scenario, scenario.level2 ? 2 : 3);
    return config;
  }

  bool OpenDriver(const host::DeviceConfig& config) {
    setup = std::make_unique<host::DeviceSetup>(config);
    driver = library.Exports().CreateIPCaptureEx3();
    if (driver == nullptr || !driver->Open(&sink, nullAllocator ? nullptr : &allocator, setup.get())) return false;
    capture = driver->GetVideoCaptureEx();
    io = driver->GetCaptureIO();
    ptz = driver->GetPTZDriverEx();
    return true;
  }

  void DestroyDriver() {
    if (driver != nullptr) library.Exports().DeleteIPCaptureEx3(driver);
    driver = nullptr;
  }

  // Simulator, settings, driver; logged on and profile read when connect.
  void Open(const sim::Scenario& s, const std::string& settings = "", bool connect = true,
            const std::function<void(host::DeviceConfig&)>& adjust = nullptr) {
    if (!settings.empty()) home.Write(settings);
    ASSERT_NO_FATAL_FAILURE(StartSimulator(s));
    host::DeviceConfig device = DefaultDevice();
    if (adjust) adjust(device);
    ASSERT_TRUE(OpenDriver(device));
    ASSERT_TRUE(!connect || WaitConnected());
  }

  // Logged on, channel 0 streaming checked frames, I/O started and one
  // input event delivered: the starting point of the fault cases.
  void OpenStreaming(const std::string& settings = kMotionOnChannelOne) {
    ASSERT_NO_FATAL_FAILURE(Open(TwoCameras(), settings));
    checkers[0].Attach(handlers[0]);
    ASSERT_NO_FATAL_FAILURE(StartChannels({0}, 3));
    ASSERT_TRUE(io->SetIOCallback(&ioCallback));
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(InputEventReachesHost("in-1"));
  }

  bool WaitConnected(std::uint64_t from = 0, std::chrono::milliseconds timeout = kReconnectBound) {
    return simulator->WaitForRequest("user/profile", nullptr, timeout, from).has_value();
  }
  std::uint64_t Mark() { return simulator->Requests().size(); }

  bool Start(std::uint32_t channel) {
    return capture->StartChannel(channel, &handlers[channel], &channelSetup);
  }
  // Starts the channels and waits until each has delivered frames.
  void StartChannels(std::initializer_list<std::uint32_t> channels, std::uint64_t frames = 1) {
    for (std::uint32_t ch : channels) ASSERT_TRUE(Start(ch));
    for (std::uint32_t ch : channels) ASSERT_TRUE(handlers[ch].WaitForFrames(frames, 10s));
  }
  // The host's reading: 0 online, 2 offline, -1 not running.
  int Status(std::uint32_t channel) {
    int status = -1, detail = -1;
    char text[16] = "x";
    if (!capture->GetChannelStatus(channel, &status, &detail, text, sizeof text)) return -1;
    EXPECT_EQ(detail, 0);
    EXPECT_EQ(text[0], '\0');
    return status;
  }

  // With a time-out of 0: whether there is one already.
  std::optional<sim::RequestRecord> WaitForChannelRequest(const std::string& command, std::uint32_t channel,
                                                          std::uint64_t from = 0,
                                                          std::chrono::milliseconds timeout = kRecoveryBound) {
    return simulator->WaitForRequest(
        command, [channel](const sim::RequestRecord& r) { return r.Param("gid") == std::to_string(channel); },
        timeout, from);
  }
  // Switches input "in-1" (0) or "in-2" (1) off and on; true once the "on"
  // (state 2) reaches the host, which only an "IOState" event can bring,
  // StartIO having reported every input off.
  bool InputEventReachesHost(const std::string& pid, std::chrono::milliseconds timeout = 5s) {
    const std::size_t from = ioCallback.Reports().Size();
    const std::uint32_t id = pid == "in-1" ? 0u : 1u;
    EXPECT_GE(simulator->SetInput(pid, false) + simulator->SetInput(pid, true), 1u) << "no connection";
    return ioCallback.Reports().WaitFor(
        [&](const std::vector<host::InputReport>& all) {
          return std::any_of(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end(),
                             [&](const host::InputReport& r) { return r.inputId == id && r.state == 2; });
        },
        timeout);
  }

  void ExpectStreamResumes() {
    const std::uint64_t frames = handlers[0].FrameCount();
    EXPECT_TRUE(handlers[0].WaitForFrames(frames + 3, kRecoveryBound)) << "stream did not resume";
    EXPECT_EQ(checkers[0].FirstProblem(), "");
  }

  void ExpectPtzReachesGateway() {
    ASSERT_NE(ptz, nullptr);
    quorvel::IIPPTZApiEx* dome = ptz->GetPTZApiEx(1);
    ASSERT_NE(dome, nullptr);
    ASSERT_EQ(dome->Initialize(), 1);
    const std::uint64_t from = Mark();
    ASSERT_EQ(dome->Move(0, 16), 1);
    EXPECT_TRUE(simulator->WaitForRequest("camera/ptz/left", nullptr, 10s, from).has_value())
        << "PTZ command did not reach the Gateway";
  }

  // Close and delete within their time-outs, no driver thread left, every
  // frame the host lent returned exactly once.
  void CloseAndCheck() {
    ASSERT_NE(driver, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    driver->Close();
    EXPECT_LE(quorvel::test_support::ElapsedMs(t0), kShutdownMs) << "Close took too long";
    t0 = std::chrono::steady_clock::now();
    DestroyDriver();
    EXPECT_LE(quorvel::test_support::ElapsedMs(t0), kShutdownMs) << "delete took too long";
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= baselineThreads; }, kShutdownMs))
        << ThreadCount() << " threads, baseline " << baselineThreads;
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(allocator.Violations(), 0u);
  }

  // Declared after the locals a test's hooks use: the driver goes before
  // them, however the test ends, so no delivery reaches them once gone.
  struct DriverGuard {
    ~DriverGuard() { f->DestroyDriver(); }
    IntegrationFixture* f;
  };

  quorvel::test_support::TempHome home;
  host::DriverLibrary library;
  sim::Scenario scenario;
  std::unique_ptr<sim::GatewaySimulator> simulator;
  host::DebugSink sink;
  host::FrameAllocator allocator;
  host::FrameHandler handlers[2];
  FrameChecker checkers[2] = {FrameChecker(0), FrameChecker(1)};
  host::IOCallback ioCallback;
  host::ChannelSetup channelSetup{704, 576, 5, 6};
  std::unique_ptr<host::DeviceSetup> setup;
  quorvel::ipcapture::IIPCaptureDriverEx3* driver = nullptr;
  quorvel::ipcapture::IIPVideoCaptureEx* capture = nullptr;
  quorvel::ICaptureIOApi* io = nullptr;
  quorvel::IIPPTZDriverEx* ptz = nullptr;
  int baselineThreads = 0;
  bool nullAllocator = false;  // the host hands the driver no frame allocator
};

}  // namespace integration
}  // namespace strevon
