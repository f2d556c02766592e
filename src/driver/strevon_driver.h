// CStrevonDriver: the Gateway half of a capture driver object. Adds the
// Gateway client, the log-on, the event receiver and the worker thread
// ("Strevon driver thread") that keeps the connection logged on: about once
// a second while not connected it connects, logs on, subscribes to events
// and reads the profile; a lost connection (reported once by the client's
// receiver thread through OnConnectionLost) sends it round again.
//
// Ownership: the client, log-on, event receiver and video manager live as
// long as the object; the camera, input and output lists are built at Open
// from the custom parameters. Threads: host threads call Open/Close/delete; the
// worker thread runs the connect sequence; the client's receiver thread
// calls OnConnectionLost. With the "Resilient" setting on, a successful
// connect sequence also registers a started I/O object for input events
// again and re-subscribes every registered video channel. Close stops the worker within 5000 ms, and every
// wait of the connect sequence also ends when Close asks it to.
//
// Lifetime: the host holds a CDriverHandle, which shares this object with
// every driver thread (CreateShared wires the keep-alives): the worker, the
// client's sender and receiver, the video manager's thread, the PTZ command
// threads and the I/O object each hold a share while they run, so a thread
// that overstays its stop never finds the driver freed under it; the last
// holder to finish frees it, possibly on a driver thread. A per-open part
// whose thread overstays Close is kept (parked) until the driver goes. A
// driver constructed directly (tests) has no keep-alive and must outlive
// its threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/camera_record.h"
#include "driver/ip_capture_driver.h"
#include "gateway/connection_user.h"
#include "gateway/gw_client.h"
#include "infra/base_thread.h"
#include "infra/event.h"
#include "session/event_receiver.h"
#include "session/log_on.h"
#include "video/video_manager.h"

namespace quorvel {

class CStrevonDriver : public CIPCaptureDriver,
                       private CBaseThread,
                       private IConnectionUser,
                       public std::enable_shared_from_this<CStrevonDriver> {
 public:
  CStrevonDriver();
  ~CStrevonDriver() override;

  // A driver whose threads hold it while they run; null without memory.
  static std::shared_ptr<CStrevonDriver> CreateShared();

  bool Open(IDebugInfoSink* sink, ipcapture::IFrameAllocator* allocator,
            ipcapture::IDeviceSetup* setup) override;
  // Returns within about one stop time-out (plus the frame deliveries under
  // way): a part whose thread still runs then is kept, not destroyed, and
  // no host pointer is used afterwards.
  void Close() override;
  // The host lets go: Close, then the client's threads are stopped, within
  // the same time-out, so that every driver thread ends by itself and drops
  // its share.
  void Shutdown();

  bool CreateIO() override;
  bool CreatePTZ() override;

  // IDriver
  const std::vector<CameraRecord>& GetCameraList() override { return m_cameras; }
  const std::vector<IORecord>& GetInputList() override { return m_inputs; }
  const std::vector<IORecord>& GetOutputList() override { return m_outputs; }
  CGWClient* GetClient() override { return &m_client; }
  int GetKalmenoVersion() override { return m_kalmenoVersion; }

  // ICustomCreator
  ICameraChannel* CreateChannel(std::uint32_t channel, ipcapture::IFrameHandler* handler) override;
  ISecondaryChannel* CreateSecondaryChannel(std::uint32_t channel,
                                            ipcapture::IFrameHandler* handler) override;

  // True while logged on with the profile read (for tests and the host tool).
  bool IsConnected() { return m_connected.Wait(0); }

 private:
  // Close, with the stop time-out counted from start.
  void CloseFrom(std::chrono::steady_clock::time_point start);
  void ThreadFunction() override;
  void OnConnectionLost() override;
  void ConnectSequence();
  void BuildLists();

  std::vector<CameraRecord> m_cameras;
  std::vector<IORecord> m_inputs;
  std::vector<IORecord> m_outputs;
  int m_kalmenoVersion = 4;
  // The "Resilient" setting, read at Open before the worker thread starts.
  bool m_resilient = false;
  CGWClient m_client;
  CLogOn m_logOn;
  CEventReceiver m_eventReceiver;
  // Declared after the client, log-on and event receiver: destroyed first.
  CVideoManager m_videoManager;
  CManualEvent m_connected;
  // Connection losses so far (OnConnectionLost calls); lets the connect
  // sequence notice a loss that raced with its final step.
  std::atomic<std::uint64_t> m_losses{0};
  // Per-open parts whose threads overstayed Close; host threads only.
  std::vector<std::shared_ptr<void>> m_parked;
};

}  // namespace quorvel
