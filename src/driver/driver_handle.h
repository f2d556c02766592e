// CDriverHandle: the capture driver object as the host holds it. The
// CreateIPCapture... exports hand out this object; the driver proper
// (CStrevonDriver) is owned jointly by the handle and by every driver thread
// while it runs, so that a thread which overstays its stop (held in a host
// callback, on the log file's lock, in a name lookup) never finds the driver
// freed under it.
//
// Deleting the handle (the DeleteIPCapture... exports, or delete through
// slot 0) ends the host's use of the driver within the stop time-outs:
// Close, then the Gateway client's threads are stopped; then the host's
// share goes. The driver is freed by whichever of its holders ends last,
// possibly a driver thread some time after the delete returned, without
// calling the host again.
//
// Every slot forwards to the driver on the host's thread. The four capture
// interfaces form one single-inheritance chain at the start of the object,
// so one pointer serves all four versions, as with the driver itself.
#pragma once

#include <memory>

#include "driver/strevon_driver.h"
#include "strevon.h"

namespace quorvel {

class CDriverHandle : public ipcapture::IIPCaptureDriverEx3 {
 public:
  // Null when there is no memory.
  static CDriverHandle* Create();
  virtual ~CDriverHandle();
  STREVON_IMPLEMENT_SLOT0

  CDriverHandle(const CDriverHandle&) = delete;
  CDriverHandle& operator=(const CDriverHandle&) = delete;

  bool Open(IDebugInfoSink* sink, ipcapture::IFrameAllocator* allocator,
            ipcapture::IDeviceSetup* setup) override {
    return m_driver->Open(sink, allocator, setup);
  }
  void Close() override { m_driver->Close(); }
  ipcapture::IIPVideoCapture* GetVideoCapture() override { return m_driver->GetVideoCapture(); }
  ICaptureIOApi* GetCaptureIO() override { return m_driver->GetCaptureIO(); }
  void* ReservedAccessor5() override { return m_driver->ReservedAccessor5(); }
  IIPPTZDriver* GetPTZDriver() override { return m_driver->GetPTZDriver(); }
  void* ReservedAccessor7() override { return m_driver->ReservedAccessor7(); }
  ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override {
    return m_driver->GetVideoCaptureEx();
  }
  IIPPTZDriverEx* GetPTZDriverEx() override { return m_driver->GetPTZDriverEx(); }

 private:
  explicit CDriverHandle(std::shared_ptr<CStrevonDriver> driver) : m_driver(std::move(driver)) {}

  // Never null.
  const std::shared_ptr<CStrevonDriver> m_driver;
};

}  // namespace quorvel
