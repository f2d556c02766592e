// ChannelMonitor: the host's view of one running video channel. Owns the
// channel's frame handler and channel setup (what StartChannel gets) and
// turns what the driver delivers into the numbers the progress view and the
// summary show: status, frames, frame rate, bit rate, last frame size,
// latency and how often the stream started over. When the frames carry the
// simulated Gateway's stamp, the send time and sequence number in it give
// the latency and reveal lost frames and restarted streams.
//
// The frame hook runs on the driver's receiver thread; Poll and Stats run
// on the main thread. Counters shared between them are atomics or guarded
// by m_mutex.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "channel_setup.h"
#include "frame_handler.h"
#include "frame_saver.h"
#include "strevon.h"

namespace strevon {
namespace hosttool {

struct ChannelStats {
  std::string label;        // "ch0", or "d1-ch0" with several devices
  std::string pid;          // the Gateway's camera id
  std::uint32_t channel = 0;
  bool started = false;
  int status = -1;          // the driver's channel status; -1: not running
  std::string statusText;
  std::uint64_t frames = 0;
  std::uint64_t bytes = 0;
  double fps = 0;           // over the last few seconds
  double kbps = 0;          // kbit/s over the last few seconds
  std::uint32_t lastSize = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t fourcc = 0;
  std::uint64_t reconnects = 0;   // times the stream started over
  std::uint64_t lostFrames = 0;   // sequence numbers skipped
  std::uint64_t stamped = 0;      // frames whose stamp was read
  double latencyAvgMs = 0;
  double latencyMaxMs = 0;
  double latencyLastMs = 0;
  std::uint64_t signalLost = 0;
  double firstFrameAfterS = -1;   // seconds from construction; -1: none yet
  double streamingFps = 0;        // from the first to the latest frame
};

// "online", "no video", "offline" for the status values a host reads.
std::string StatusText(int status);

class ChannelMonitor {
 public:
  ChannelMonitor(std::string label, std::string pid, std::uint32_t channel, FrameSaver* saver,
                 std::uint32_t saveEvery, std::uint16_t width = 640, std::uint16_t height = 480);
  ChannelMonitor(const ChannelMonitor&) = delete;
  ChannelMonitor& operator=(const ChannelMonitor&) = delete;

  quorvel::ipcapture::IFrameHandler* Handler() { return &m_handler; }
  quorvel::ipcapture::IChannelSetup* Setup() { return &m_setup; }
  std::uint32_t Channel() const { return m_channel; }
  const std::string& Label() const { return m_label; }

  void MarkStarted(bool started) {
    m_started = started;
    m_everStarted = m_everStarted || started;
  }
  // Reads the channel status from the driver and updates the rates.
  void Poll(quorvel::ipcapture::IIPVideoCapture* video, std::chrono::steady_clock::time_point now);
  ChannelStats Stats() const;
  std::vector<unsigned char> LastFrame() const { return m_handler.LastBytes(); }
  std::uint64_t FrameCount() const { return m_handler.FrameCount(); }
  // Called on the receiver thread after each frame is recorded.
  void SetFrameListener(std::function<void()> listener) { m_handler.SetListener(std::move(listener)); }

 private:
  struct Sample {
    std::chrono::steady_clock::time_point when;
    std::uint64_t frames;
    std::uint64_t bytes;
  };

  bool OnFrame(quorvel::ipcapture::ICaptureFrame* frame, const host::FrameInfo& info);

  // Constant after construction.
  const std::string m_label;
  const std::string m_pid;
  const std::uint32_t m_channel;
  FrameSaver* const m_saver;
  const std::uint32_t m_saveEvery;

  host::FrameHandler m_handler;
  host::ChannelSetup m_setup;
  bool m_started = false;
  bool m_everStarted = false;

  // Main thread only.
  std::deque<Sample> m_samples;
  int m_status = -1;
  bool m_wasOnline = false;
  bool m_lostOnline = false;
  std::uint64_t m_statusRecoveries = 0;
  double m_fps = 0;
  double m_kbps = 0;

  mutable std::mutex m_mutex;
  const std::chrono::steady_clock::time_point m_created = std::chrono::steady_clock::now();
  std::uint64_t m_hookFrames = 0;        // guarded by m_mutex
  std::chrono::steady_clock::time_point m_firstFrame{};   // guarded by m_mutex
  std::chrono::steady_clock::time_point m_latestFrame{};  // guarded by m_mutex
  bool m_haveSequence = false;           // guarded by m_mutex
  std::uint64_t m_lastSequence = 0;      // guarded by m_mutex
  std::uint64_t m_sequenceRestarts = 0;  // guarded by m_mutex
  std::uint64_t m_lostFrames = 0;        // guarded by m_mutex
  std::uint64_t m_stamped = 0;           // guarded by m_mutex
  double m_latencySumMs = 0;             // guarded by m_mutex
  double m_latencyMaxMs = 0;             // guarded by m_mutex
  double m_latencyLastMs = 0;            // guarded by m_mutex
};

}  // namespace hosttool
}  // namespace strevon
