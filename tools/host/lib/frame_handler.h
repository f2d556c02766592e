// FrameHandler: the host's per-channel frame sink. Records what each
// delivered frame said about itself (fourcc, size, width, height, size
// class) and keeps a copy of the latest frame's bytes. A hook lets a test
// or the host tool act inside the callback (check bytes, refuse the frame,
// stop the channel from the receiver thread). Called on the driver's
// receiver thread; read from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "strevon.h"

namespace strevon {
namespace host {

struct FrameInfo {
  std::uint32_t fourcc = 0;
  std::uint32_t allocatedSize = 0;
  std::uint32_t dataSize = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t sizeClass = 0;
  bool finished = false;
  bool hadBuffer = false;
  std::chrono::steady_clock::time_point when;
};

class FrameHandler : public quorvel::ipcapture::IFrameHandler {
 public:
  using Hook = std::function<bool(quorvel::ipcapture::ICaptureFrame*, const FrameInfo&)>;

  bool CaptureFrameCallback(quorvel::ipcapture::ICaptureFrame* frame) override;
  void OnSignalLost() override;

  // The hook's result is the callback's result; without a hook frames are
  // taken unless SetAccept(false).
  void SetHook(Hook hook);
  // Called after each frame is recorded (count and bytes updated), outside
  // the handler's lock, on the receiver thread: a reader woken by it finds
  // the frame already there.
  void SetListener(std::function<void()> listener);
  void SetAccept(bool accept) { m_accept = accept; }
  // Keep a copy of every frame's info (not only the count and the latest).
  void SetKeepHistory(bool keep) { m_keepHistory = keep; }

  std::uint64_t FrameCount() const { return m_frames; }
  std::uint64_t ByteCount() const { return m_bytes; }
  std::uint64_t SignalLostCount() const { return m_signalLost; }
  // Copies of the latest frame, its bytes, and (if kept) every frame's info.
  FrameInfo LastInfo() const;
  std::vector<unsigned char> LastBytes() const;
  std::vector<FrameInfo> History() const;
  std::chrono::steady_clock::time_point LastCallTime() const;

  bool WaitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) const;
  bool WaitForSignalLost(std::uint64_t count, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  Hook m_hook;
  std::function<void()> m_listener;
  std::atomic<bool> m_accept{true};
  std::atomic<bool> m_keepHistory{false};
  std::atomic<std::uint64_t> m_frames{0};
  std::atomic<std::uint64_t> m_bytes{0};
  std::atomic<std::uint64_t> m_signalLost{0};
  FrameInfo m_last;
  std::vector<unsigned char> m_lastBytes;
  std::vector<FrameInfo> m_history;
  std::chrono::steady_clock::time_point m_lastCall;
};

}  // namespace host
}  // namespace strevon
