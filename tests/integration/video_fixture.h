// Live-video integration fixture: the real library against the simulator on
// a two-channel device (channel 0 a fixed camera, channel 1 a PTZ dome), no
// digital I/O. Frame bodies are checked byte for byte inside the host's
// frame callback, on the driver's receiver thread, as they arrive.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "driver_fixture.h"
#include "frame_stamp.h"

namespace strevon {
namespace integration {

// "JPEG" and "H264" as little-endian words.
constexpr std::uint32_t kFourccJpeg = 0x4745504A;
constexpr std::uint32_t kFourccH264 = 0x34363248;
constexpr int kFrameWidth = 704;
constexpr int kFrameHeight = 288;  // 704 x 288 is size class 3

// Checks every frame of one channel: the stamp names the channel and the
// body length, every filler byte is where the simulator put it, sequence
// numbers follow each other within a subscription, and what the driver told
// the frame (fourcc, width, height, size class, data size) matches.
class FrameChecker {
 public:
  explicit FrameChecker(std::uint32_t cid) : m_cid(cid) {}

  // Before Attach: the fourcc every frame must carry.
  void ExpectFourcc(std::uint32_t fourcc) { m_fourcc = fourcc; }

  // Installs the check as the handler's hook; extra runs after the check
  // and decides whether the frame is taken.
  void Attach(host::FrameHandler& handler, host::FrameHandler::Hook extra = nullptr) {
    handler.SetHook([this, extra](quorvel::ipcapture::ICaptureFrame* frame,
                                  const host::FrameInfo& info) {
      Check(frame, info);
      return extra ? extra(frame, info) : true;
    });
  }

  std::uint64_t Good() const { return m_good; }
  std::uint64_t Bad() const { return m_bad; }
  std::string FirstProblem() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_problem;
  }

 private:
  void Check(quorvel::ipcapture::ICaptureFrame* frame, const host::FrameInfo& info) {
    const unsigned char* body = frame != nullptr ? frame->GetBuffer() : nullptr;
    const std::size_t size = info.dataSize;
    sim::FrameStamp stamp;
    std::string problem;
    if (body == nullptr) problem = "no buffer";
    else if (!info.finished) problem = "not finished";
    else if (info.allocatedSize != size) problem = "allocated size differs from data size";
    else if (info.fourcc != m_fourcc) problem = "fourcc " + std::to_string(info.fourcc);
    else if (info.width != kFrameWidth || info.height != kFrameHeight) problem = "picture size";
    else if (info.sizeClass != 3) problem = "size class " + std::to_string(info.sizeClass);
    else if (!sim::ReadFrameStamp(body, size, &stamp)) problem = "no stamp";
    else if (stamp.channel != m_cid) problem = "stamp of channel " + std::to_string(stamp.channel);
    else if (stamp.body_length != size) problem = "body length";
    else if (stamp.sequence != 0 && m_hasLast && stamp.sequence != m_lastSequence + 1) {
      problem = "sequence " + std::to_string(stamp.sequence) + " after " +
                std::to_string(m_lastSequence);
    } else if (stamp.kind == sim::kFrameKindNative) {
      if (!sim::CheckNativeFiller(body, size, stamp.sequence)) problem = "native filler";
    } else if (!CheckSyntheticJpeg(body, size, stamp.sequence)) {
      problem = "jpeg filler";
    }
    m_hasLast = true;
    m_lastSequence = stamp.sequence;
    if (problem.empty()) {
      ++m_good;
      return;
    }
    ++m_bad;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_problem.empty()) m_problem = problem;
  }

  // SOI, the stamp segment, COM segments of filler bytes, EOI.
  static bool CheckSyntheticJpeg(const unsigned char* body, std::size_t size,
                                 std::uint64_t sequence) {
    std::size_t p = sim::kJpegStampOffset + sim::kFrameStampSize;
    while (p + 4 <= size && body[p] == 0xFF && body[p + 1] == 0xFE) {
      const std::size_t length = (static_cast<std::size_t>(body[p + 2]) << 8) | body[p + 3];
      if (length < 2 || p + 2 + length > size) return false;
      for (std::size_t k = p + 4; k < p + 2 + length; ++k) {
        if (body[k] != sim::FillerByte(k, sequence)) return false;
      }
      p += 2 + length;
    }
    return p + 2 == size && body[p] == 0xFF && body[p + 1] == 0xD9;
  }

  const std::uint32_t m_cid;
  std::uint32_t m_fourcc = kFourccJpeg;
  std::atomic<std::uint64_t> m_good{0};
  std::atomic<std::uint64_t> m_bad{0};
  // Receiver thread only.
  bool m_hasLast = false;
  std::uint64_t m_lastSequence = 0;
  mutable std::mutex m_mutex;
  std::string m_problem;
};

class VideoFixture : public DriverFixture {
 protected:
  // Two cameras of the built-in site, the second a dome; synthetic bodies.
  static sim::Scenario VideoScenario(bool level2 = false) {
    sim::Scenario s = sim::DefaultScenario();
    s.profiles.at(0).cameras.resize(2);
    s.profiles.at(0).inputs.clear();
    s.profiles.at(0).outputs.clear();
    s.level2 = level2;
    s.video.width = kFrameWidth;
    s.video.height = kFrameHeight;
    s.video.render_jpeg = false;
    s.video.jpeg_size = 20000;
    s.video.native_size = 12000;
    return s;
  }

  // Starts the simulator and opens the device; kalmeno 2 selects the short
  // request form and the level-2 framing.
  void OpenVideoDevice(int kalmeno = 3, std::uint32_t connectionValue = 1) {
    StartSimulator(VideoScenario(kalmeno == 2));
    host::DeviceConfig device = DefaultDevice();
    device.customParameters = CustomParametersFor(scenario, kalmeno);
    device.connectionValue = connectionValue;
    ASSERT_TRUE(OpenDriver(device));
    ASSERT_TRUE(WaitConnected());
    capture = driver->GetVideoCaptureEx();
    ASSERT_NE(capture, nullptr);
    ASSERT_EQ(capture->GetChannelCount(), 2u);
  }

  bool Start(std::uint32_t channel, host::FrameHandler& handler) {
    return capture->StartChannel(channel, &handler, &channelSetup);
  }

  int Status(std::uint32_t channel) {
    int status = -1;
    int detail = -1;
    char text[16] = "x";
    if (!capture->GetChannelStatus(channel, &status, &detail, text, sizeof text)) return -1;
    EXPECT_EQ(detail, 0);
    EXPECT_EQ(text[0], '\0');
    return status;
  }

  // A request of this command for this channel ("gid"), from index on.
  std::optional<sim::RequestRecord> WaitForChannelRequest(const std::string& command,
                                                          std::uint32_t channel,
                                                          std::chrono::milliseconds timeout,
                                                          std::uint64_t from = 0) {
    return simulator->WaitForRequest(
        command,
        [channel](const sim::RequestRecord& r) { return r.Param("gid") == std::to_string(channel); },
        timeout, from);
  }

  std::size_t CountChannelRequests(const std::string& command, std::uint32_t channel,
                                   std::uint64_t from = 0) {
    std::size_t n = 0;
    for (const sim::RequestRecord& r : simulator->Requests()) {
      if (r.index >= from && r.command == command && r.Param("gid") == std::to_string(channel)) ++n;
    }
    return n;
  }

  // Destroys the driver when it goes out of scope. A test whose hooks use
  // its own locals declares one after them, so that no delivery reaches
  // them once they are gone, however the test ends.
  struct DriverGuard {
    explicit DriverGuard(VideoFixture* fixture) : f(fixture) {}
    ~DriverGuard() { f->DestroyDriver(); }
    DriverGuard(const DriverGuard&) = delete;
    DriverGuard& operator=(const DriverGuard&) = delete;
    VideoFixture* f;
  };

  host::ChannelSetup channelSetup{704, 576, 5, 6};
  quorvel::ipcapture::IIPVideoCaptureEx* capture = nullptr;
  // Members, so that they outlive the driver (destroyed in TearDown).
  host::FrameHandler handlers[2];
  FrameChecker checkers[2] = {FrameChecker(0), FrameChecker(1)};
};

}  // namespace integration
}  // namespace strevon
