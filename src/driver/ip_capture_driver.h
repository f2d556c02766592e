// CIPCaptureDriver: the generic half of a capture driver object. It is what
// the host holds: the capture interfaces (one single-inheritance chain at the
// start of the object, so one pointer serves all four versions), and, for
// the driver's own components, IDriver and the per-channel factory
// ICustomCreator. It reads the device setup at Open, keeps the custom
// parameters, owns the log and the per-open parts (video capture object,
// PTZ handler, digital I/O object), which live from Open to Close.
//
// Threads: the host calls Open, Close, the accessors and the factory from
// its own threads; components call the IDriver accessors from every driver
// thread. Everything those accessors return is written during Open only,
// before any driver thread starts, except the host's pointers: EndHostUse
// (at Close) clears the frame allocator and closes the log's sink, so that
// a driver thread that outlives Close never calls the host through them.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/custom_creator.h"
#include "core/idriver.h"
#include "infra/debug_logger.h"
#include "infra/device_info.h"
#include "strevon.h"

namespace quorvel {

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx3,
                         public IDriver,
                         public ICustomCreator {
 public:
  CIPCaptureDriver();
  ~CIPCaptureDriver() override;
  STREVON_IMPLEMENT_SLOT0

  // IIPCaptureDriver...Ex3. Open here is the generic part: device setup,
  // log, custom parameters, I/O and PTZ objects, video capture object.
  bool Open(IDebugInfoSink* sink, ipcapture::IFrameAllocator* allocator,
            ipcapture::IDeviceSetup* setup) override;
  ipcapture::IIPVideoCapture* GetVideoCapture() override;
  ICaptureIOApi* GetCaptureIO() override;
  void* ReservedAccessor5() override { return nullptr; }
  IIPPTZDriver* GetPTZDriver() override;
  void* ReservedAccessor7() override { return nullptr; }
  ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override;
  IIPPTZDriverEx* GetPTZDriverEx() override;

  virtual bool CreateIO() = 0;                 // 10
  virtual bool CreatePTZ() = 0;                // 11
  virtual void LogOpened(int kalmenoVersion);  // 12

  // IDriver
  void DebugMessage(int level, const char* format, ...) override
      __attribute__((format(printf, 3, 4)));
  std::string GetDriverName() override { return kDriverName; }
  DEVICE_INFO* GetDeviceInfo() override { return &m_deviceInfo; }
  std::pair<std::uint32_t, std::uint32_t> GetIOCounts() override {
    return {m_inputCount, m_outputCount};
  }
  ipcapture::IFrameAllocator* GetFrameAllocator() override { return m_frameAllocator.load(); }
  std::uint32_t GetVideoStandard() override { return m_videoStandard; }
  std::uint32_t GetConnectionValue() override { return m_connectionValue; }
  std::uint32_t GetChannelCount() override { return m_channelCount; }
  std::string GetCustomParameter(std::uint32_t index) override;
  int GetCustomParameterInt(std::uint32_t index) override;
  bool WouldLog(int level) override { return m_log.WouldLog(level); }

  static constexpr const char* kDriverName = "Strevon";

 protected:
  // Destroys the per-open parts: video capture (stopping every channel),
  // then the PTZ handler, then the I/O object.
  void DestroyOpenParts();
  // No host pointer handed over at Open is used after this returns (a sink
  // call under way gets a bounded wait); until the next Open.
  void EndHostUse();

  // Per-open parts, owned; null outside Open..Close. The I/O object is
  // shared with the worker thread while it re-registers it, and swapped
  // atomically.
  std::shared_ptr<ICaptureIOApi> m_io;
  std::unique_ptr<ipcapture::IIPVideoCaptureEx> m_videoCapture;
  std::unique_ptr<IIPPTZDriverEx> m_ptzHandler;

  DEVICE_INFO m_deviceInfo;
  std::uint32_t m_videoStandard = 0;

 private:
  IDebugInfoSink* m_debugSink = nullptr;
  std::atomic<ipcapture::IFrameAllocator*> m_frameAllocator{nullptr};
  std::uint32_t m_inputCount = 0;
  std::uint32_t m_outputCount = 0;
  std::uint32_t m_channelCount = 0;
  std::uint32_t m_connectionValue = 0;
  std::map<int, std::string> m_customParameters;
  CDebugLogger m_log;
};

}  // namespace quorvel
