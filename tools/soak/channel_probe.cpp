#include "channel_probe.h"

#include "frame_allocator.h"
#include "frame_stamp.h"

namespace strevon {
namespace soak {

bool ChannelProbe::CaptureFrameCallback(quorvel::ipcapture::ICaptureFrame* captureFrame) {
  ++m_frames;
  if (m_stopped.load()) ++m_afterStop;
  const auto* frame = static_cast<const host::Frame*>(captureFrame);
  const unsigned char* body = captureFrame != nullptr ? captureFrame->GetBuffer() : nullptr;
  sim::FrameStamp stamp;
  if (body == nullptr || !frame->finished ||
      !sim::ReadFrameStamp(body, frame->dataSize, &stamp) || stamp.channel != m_channel ||
      stamp.body_length != frame->dataSize) {
    ++m_bad;
    return true;
  }
  if (stamp.send_time_ns > m_resumeAfter.load() && m_resumedAt.load() == 0) {
    std::uint64_t expected = 0;
    m_resumedAt.compare_exchange_strong(expected, sim::MonotonicNs());
  }
  return true;
}

void ChannelProbe::ArmResume(std::uint64_t sent_after_ns) {
  m_resumeAfter.store(sent_after_ns);
  m_resumedAt.store(0);
}

}  // namespace soak
}  // namespace strevon
