#include "channel_monitor.h"

#include <algorithm>

#include "frame_stamp.h"

namespace strevon {
namespace hosttool {

namespace {
constexpr std::uint32_t kJpegFourcc = 0x4745504A;  // "JPEG"
constexpr auto kRateWindow = std::chrono::seconds(3);
}  // namespace

std::string StatusText(int status) {
  switch (status) {
    case 0: return "online";
    case 2: return "no video";  // offline and signal lost read alike
    case 3: return "offline";
    case -1: return "not running";
    default: return "status " + std::to_string(status);
  }
}

ChannelMonitor::ChannelMonitor(std::string label, std::string pid, std::uint32_t channel,
                               FrameSaver* saver, std::uint32_t saveEvery, std::uint16_t width,
                               std::uint16_t height)
    : m_label(std::move(label)),
      m_pid(std::move(pid)),
      m_channel(channel),
      m_saver(saver),
      m_saveEvery(saveEvery),
      m_setup(width, height) {
  m_handler.SetHook([this](quorvel::ipcapture::ICaptureFrame* frame, const host::FrameInfo& info) {
    return OnFrame(frame, info);
  });
}

bool ChannelMonitor::OnFrame(quorvel::ipcapture::ICaptureFrame* frame, const host::FrameInfo& info) {
  const unsigned char* bytes = frame != nullptr ? frame->GetBuffer() : nullptr;
  const std::size_t size = bytes != nullptr ? std::min(info.dataSize, info.allocatedSize) : 0;
  sim::FrameStamp stamp;
  const bool stamped = size > 0 && sim::ReadFrameStamp(bytes, size, &stamp);
  const std::uint64_t nowNs = stamped ? sim::MonotonicNs() : 0;
  std::uint64_t number = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    number = ++m_hookFrames;
    if (number == 1) m_firstFrame = info.when;
    m_latestFrame = info.when;
    if (stamped) {
      if (m_haveSequence && stamp.sequence <= m_lastSequence) {
        ++m_sequenceRestarts;  // a new subscription counts from 0 again
      } else if (m_haveSequence && stamp.sequence > m_lastSequence + 1) {
        m_lostFrames += stamp.sequence - m_lastSequence - 1;
      }
      m_haveSequence = true;
      m_lastSequence = stamp.sequence;
      if (nowNs >= stamp.send_time_ns) {
        const double ms = static_cast<double>(nowNs - stamp.send_time_ns) / 1e6;
        ++m_stamped;
        m_latencySumMs += ms;
        m_latencyMaxMs = std::max(m_latencyMaxMs, ms);
        m_latencyLastMs = ms;
      }
    }
  }
  if (m_saver != nullptr && m_saveEvery > 0 && number % m_saveEvery == 0) {
    const bool jpeg = info.fourcc == kJpegFourcc || (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8);
    m_saver->Offer(m_label, number, bytes, size, jpeg);
  }
  return true;
}

void ChannelMonitor::Poll(quorvel::ipcapture::IIPVideoCapture* video,
                          std::chrono::steady_clock::time_point now) {
  int status = -1;
  int detail = 0;
  char text[128] = {0};
  if (video != nullptr && m_started &&
      !video->GetChannelStatus(m_channel, &status, &detail, text, sizeof(text))) {
    status = -1;
  }
  if (!m_started) status = -1;
  if (status == 0) {
    if (m_lostOnline) ++m_statusRecoveries;
    m_wasOnline = true;
    m_lostOnline = false;
  } else if (m_wasOnline) {
    m_lostOnline = true;
  }
  m_status = status;

  m_samples.push_back(Sample{now, m_handler.FrameCount(), m_handler.ByteCount()});
  while (m_samples.size() > 2 && now - m_samples.front().when > kRateWindow) m_samples.pop_front();
  const Sample& first = m_samples.front();
  const double seconds = std::chrono::duration<double>(now - first.when).count();
  if (seconds > 0.2) {
    m_fps = static_cast<double>(m_samples.back().frames - first.frames) / seconds;
    m_kbps = static_cast<double>(m_samples.back().bytes - first.bytes) * 8.0 / 1000.0 / seconds;
  }
}

ChannelStats ChannelMonitor::Stats() const {
  ChannelStats s;
  s.label = m_label;
  s.pid = m_pid;
  s.channel = m_channel;
  s.started = m_started;
  s.status = m_status;
  s.statusText = m_started ? StatusText(m_status) : (m_everStarted ? "stopped" : "not started");
  s.frames = m_handler.FrameCount();
  s.bytes = m_handler.ByteCount();
  s.fps = m_fps;
  s.kbps = m_kbps;
  s.signalLost = m_handler.SignalLostCount();
  const host::FrameInfo last = m_handler.LastInfo();
  s.lastSize = last.dataSize;
  s.width = last.width;
  s.height = last.height;
  s.fourcc = last.fourcc;
  std::lock_guard<std::mutex> lock(m_mutex);
  // A restart shows as a status change, a sequence that starts again, or
  // both; count each restart once.
  s.reconnects = std::max(m_statusRecoveries, m_sequenceRestarts);
  s.lostFrames = m_lostFrames;
  s.stamped = m_stamped;
  s.latencyAvgMs = m_stamped > 0 ? m_latencySumMs / static_cast<double>(m_stamped) : 0;
  s.latencyMaxMs = m_latencyMaxMs;
  s.latencyLastMs = m_latencyLastMs;
  if (m_hookFrames > 0) {
    s.firstFrameAfterS = std::chrono::duration<double>(m_firstFrame - m_created).count();
    const double span = std::chrono::duration<double>(m_latestFrame - m_firstFrame).count();
    if (m_hookFrames > 1 && span > 0) s.streamingFps = static_cast<double>(m_hookFrames - 1) / span;
  }
  return s;
}

}  // namespace hosttool
}  // namespace strevon
