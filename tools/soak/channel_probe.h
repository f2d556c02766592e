// ChannelProbe: the soak host's frame handler for one video channel. It
// counts the frames the driver delivers and those whose body is not the
// simulator's frame, measures when a stream comes back after a reset (the
// arrival of the first frame the Gateway sent after a given moment), and,
// once the channel is marked stopped, counts every frame that still
// arrives.
//
// Owned by the soak run, which keeps it alive until the driver is deleted.
// CaptureFrameCallback and OnSignalLost run on the driver's receiver thread;
// everything else on the soak thread. Frames must come from
// host::FrameAllocator (their data size is read from host::Frame).
#pragma once

#include <atomic>
#include <cstdint>

#include "strevon.h"

namespace strevon {
namespace soak {

class ChannelProbe : public quorvel::ipcapture::IFrameHandler {
 public:
  explicit ChannelProbe(std::uint32_t channel) : m_channel(channel) {}

  bool CaptureFrameCallback(quorvel::ipcapture::ICaptureFrame* frame) override;
  void OnSignalLost() override { ++m_signalLost; }

  // From now on, the first frame the simulator sent after sent_after_ns
  // (CLOCK_MONOTONIC) sets ResumedAtNs.
  void ArmResume(std::uint64_t sent_after_ns);
  std::uint64_t ResumedAtNs() const { return m_resumedAt.load(); }  // 0 = not yet

  // Called once StopChannel has returned: any later frame is a fault.
  void MarkStopped() { m_stopped.store(true); }
  bool Stopped() const { return m_stopped.load(); }

  std::uint32_t Channel() const { return m_channel; }
  std::uint64_t Frames() const { return m_frames.load(); }
  std::uint64_t BadFrames() const { return m_bad.load(); }
  std::uint64_t FramesAfterStop() const { return m_afterStop.load(); }
  std::uint64_t SignalLost() const { return m_signalLost.load(); }

 private:
  // Constant after construction.
  const std::uint32_t m_channel;

  std::atomic<std::uint64_t> m_frames{0};
  std::atomic<std::uint64_t> m_bad{0};
  std::atomic<std::uint64_t> m_afterStop{0};
  std::atomic<std::uint64_t> m_signalLost{0};
  std::atomic<bool> m_stopped{false};
  // Written by the soak thread (threshold first, then the reset of the
  // result), read and completed by the receiver thread.
  std::atomic<std::uint64_t> m_resumeAfter{UINT64_MAX};
  std::atomic<std::uint64_t> m_resumedAt{0};
};

}  // namespace soak
}  // namespace strevon
