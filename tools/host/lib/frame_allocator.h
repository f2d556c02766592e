// FrameAllocator / Frame: the host's frame objects. Frames are pooled and
// reused like a recording server does, so a steady stream allocates nothing.
// The allocator checks the driver's side of the contract: every frame it
// hands out must come back exactly once through ReleaseFrame; a second
// release or the release of a foreign frame is counted as a violation.
// Called from the driver's receiver thread; counters are read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "strevon.h"

namespace strevon {
namespace host {

class Frame : public quorvel::ipcapture::ICaptureFrame {
 public:
  unsigned char* GetBuffer() override;
  void SetDataSize(std::uint32_t bytes) override { dataSize = bytes; }
  void FinishFrame() override { finished = true; }
  void SetFourcc(std::uint32_t value) override { fourcc = value; }
  void SetHeight(std::uint32_t value) override { height = value; }
  void SetWidth(std::uint32_t value) override { width = value; }
  void SetSizeClass(std::uint32_t value) override { sizeClass = value; }

  void Reset(std::uint32_t allocFourcc, std::uint32_t size, bool withBuffer);

  std::uint32_t allocatedFourcc = 0;
  std::uint32_t allocatedSize = 0;
  std::uint32_t dataSize = 0;
  std::uint32_t fourcc = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t sizeClass = 0;
  bool finished = false;
  bool outstanding = false;
  std::vector<unsigned char> storage;

 private:
  bool m_withBuffer = true;
};

class FrameAllocator : public quorvel::ipcapture::IFrameAllocator {
 public:
  FrameAllocator() = default;
  ~FrameAllocator() override;

  quorvel::ipcapture::ICaptureFrame* AllocateFrame(std::uint32_t fourcc, std::uint32_t dataSize,
                                                   const char* driverName) override;
  void ReleaseFrame(quorvel::ipcapture::ICaptureFrame* frame) override;

  // Fault modes for tests.
  void SetFailAllocations(bool fail) { m_failAllocations = fail; }
  void SetFramesWithoutBuffer(bool without) { m_withoutBuffer = without; }

  std::uint64_t Allocated() const { return m_allocated; }
  std::uint64_t Released() const { return m_released; }
  std::uint64_t Refused() const { return m_refused; }
  std::uint64_t Violations() const { return m_violations; }
  std::uint64_t Outstanding() const { return m_allocated - m_released; }

 private:
  std::mutex m_mutex;
  std::vector<std::unique_ptr<Frame>> m_all;
  std::vector<Frame*> m_free;
  std::atomic<bool> m_failAllocations{false};
  std::atomic<bool> m_withoutBuffer{false};
  std::atomic<std::uint64_t> m_allocated{0};
  std::atomic<std::uint64_t> m_released{0};
  std::atomic<std::uint64_t> m_refused{0};
  std::atomic<std::uint64_t> m_violations{0};
};

}  // namespace host
}  // namespace strevon
