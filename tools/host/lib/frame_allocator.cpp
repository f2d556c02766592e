#include "frame_allocator.h"

#include <algorithm>

namespace strevon {
namespace host {

unsigned char* Frame::GetBuffer() { return m_withBuffer ? storage.data() : nullptr; }

void Frame::Reset(std::uint32_t allocFourcc, std::uint32_t size, bool withBuffer) {
  allocatedFourcc = allocFourcc;
  allocatedSize = size;
  dataSize = fourcc = width = height = sizeClass = 0;
  finished = false;
  m_withBuffer = withBuffer;
  if (storage.size() < size) storage.resize(size);
  // A zero-size frame still gets a valid, distinct pointer.
  if (storage.empty()) storage.resize(1);
}

FrameAllocator::~FrameAllocator() = default;

quorvel::ipcapture::ICaptureFrame* FrameAllocator::AllocateFrame(std::uint32_t fourcc,
                                                                 std::uint32_t dataSize,
                                                                 const char* /*driverName*/) {
  if (m_failAllocations) {
    ++m_refused;
    return nullptr;
  }
  Frame* frame = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_free.empty()) {
      frame = m_free.back();
      m_free.pop_back();
    } else {
      m_all.push_back(std::make_unique<Frame>());
      frame = m_all.back().get();
    }
    frame->outstanding = true;
  }
  frame->Reset(fourcc, dataSize, !m_withoutBuffer);
  ++m_allocated;
  return frame;
}

void FrameAllocator::ReleaseFrame(quorvel::ipcapture::ICaptureFrame* captureFrame) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = std::find_if(m_all.begin(), m_all.end(),
                         [&](const std::unique_ptr<Frame>& f) { return f.get() == captureFrame; });
  if (it == m_all.end() || !(*it)->outstanding) {
    ++m_violations;
    return;
  }
  (*it)->outstanding = false;
  m_free.push_back(it->get());
  ++m_released;
}

}  // namespace host
}  // namespace strevon
