#include "frame_handler.h"

#include <algorithm>

#include "frame_allocator.h"

namespace strevon {
namespace host {

bool FrameHandler::CaptureFrameCallback(quorvel::ipcapture::ICaptureFrame* captureFrame) {
  FrameInfo info;
  info.when = std::chrono::steady_clock::now();
  const unsigned char* bytes = nullptr;
  if (captureFrame != nullptr) {
    // The test host only ever hands out its own frames.
    const Frame* frame = static_cast<const Frame*>(captureFrame);
    info.fourcc = frame->fourcc;
    info.allocatedSize = frame->allocatedSize;
    info.dataSize = frame->dataSize;
    info.width = frame->width;
    info.height = frame->height;
    info.sizeClass = frame->sizeClass;
    info.finished = frame->finished;
    bytes = captureFrame->GetBuffer();
    info.hadBuffer = bytes != nullptr;
  }
  Hook hook;
  std::function<void()> listener;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    hook = m_hook;
    listener = m_listener;
  }
  const bool taken = hook ? hook(captureFrame, info) : m_accept.load();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_last = info;
    const std::size_t n = bytes ? std::min(info.dataSize, info.allocatedSize) : 0;
    m_lastBytes.assign(bytes, bytes + n);
    if (m_keepHistory) m_history.push_back(info);
    m_lastCall = info.when;
    ++m_frames;
    m_bytes += info.dataSize;
    // Notified under the lock: a waiter that wakes may destroy the handler
    // at once, so nothing of it may be touched after the lock is released.
    m_changed.notify_all();
  }
  if (listener) listener();
  return taken;
}

void FrameHandler::OnSignalLost() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_signalLost;
    m_lastCall = std::chrono::steady_clock::now();
    m_changed.notify_all();
  }
}

void FrameHandler::SetListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_listener = std::move(listener);
}

void FrameHandler::SetHook(Hook hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_hook = std::move(hook);
}

FrameInfo FrameHandler::LastInfo() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_last;
}

std::vector<unsigned char> FrameHandler::LastBytes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastBytes;
}

std::vector<FrameInfo> FrameHandler::History() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_history;
}

std::chrono::steady_clock::time_point FrameHandler::LastCallTime() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastCall;
}

bool FrameHandler::WaitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_frames >= count; });
}

bool FrameHandler::WaitForSignalLost(std::uint64_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_signalLost >= count; });
}

}  // namespace host
}  // namespace strevon
