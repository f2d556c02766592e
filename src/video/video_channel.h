// CVideoChannel: one running video channel of the driver. It registers its
// stream with the video manager, turns every "video/stream" frame the
// manager hands it into a host frame (allocate, read the body into it,
// describe, deliver, release), keeps the channel status with the texts the host's log shows,
// and reports a full-rate stream that delivered nothing for 10000 ms as
// offline, so that the manager restarts it. On the first frame of a PTZ
// camera (and again after a parameter change) it sends the Gateway
// "camera/ptz/takeover" for the camera.
//
// Ownership: created by the driver's ICustomCreator for the video capture
// object, which owns it, calls Stop and WaitForDeliveries and then destroys
// it. Holds, without owning, the driver (also its log), the host's frame
// handler and the video manager.
//
// Threads: host threads call Start, Stop and ChangeChannelParameters; the
// Gateway client's receiver thread calls OnFrame and SetChannelStatus (through
// the manager); the manager's thread calls GetRefreshStatus, inside the
// manager's lock. The status is atomic (it is set by every frame); its
// changes are logged and told to the host's OnSignalLost afterwards. The
// fields that host threads write and the other threads read are atomic. The
// receiver thread's own state (the running delivery, the frame describer)
// is touched by it alone.
//
// A host may stop (and so destroy) the channel from inside its own
// CaptureFrameCallback or OnSignalLost: nothing of the channel is touched
// after those calls return in that case; the frame is still released.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/camera_channel.h"
#include "core/idriver.h"
#include "strevon.h"
#include "video/channel_stream_record.h"
#include "video/frame_description.h"

namespace quorvel {

class CVideoManager;

class CVideoChannel : public ICameraChannel {
 public:
  CVideoChannel(std::uint32_t channel, IDriver* driver, ipcapture::IFrameHandler* handler,
                CVideoManager* manager);
  ~CVideoChannel() override;

  CVideoChannel(const CVideoChannel&) = delete;
  CVideoChannel& operator=(const CVideoChannel&) = delete;

  void SetChannelSetup(ipcapture::IChannelSetup* setup) override;
  // Reads the stream type from the settings file and the encoding from the
  // driver's connection value, then registers. Always true. A channel whose
  // number has no camera in the driver's list registers nothing, stays
  // offline and says so once in the log.
  bool Start(const ChannelParameters* parameters) override;
  // Deregisters (the manager queues the unsubscription; no delivery into
  // this channel starts afterwards), then status 3.
  void Stop() override;
  // New picture size and first stream value: unsubscribes and subscribes
  // again, and re-arms the first-frame actions. Always true.
  bool ChangeChannelParameters(const ChannelParameters* parameters) override;
  int GetChannelStatus() override;
  void SetChannelStatus(int status) override;
  int GetRefreshStatus() override;
  void OnFrame(ServerMessage& message) override;
  void WaitForDeliveries() override;

  std::uint32_t GetChannelNumber() const { return m_channel; }
  std::uint32_t GetStreamType() const { return m_streamType.load(); }
  std::uint32_t GetNative() const { return m_native.load(); }

 private:
  // Lives on the receiver thread's stack while the host's frame callback
  // runs; the destructor marks it when the host destroys the channel there.
  struct Delivery {
    bool channelGone = false;
  };

  bool HasCamera();
  ChannelStreamRecord BuildRecord();
  // "Camera <address>", or "Server <address> (channel <n>)" on a device with
  // more than one channel.
  std::string ChannelName();
  void SendTakeover();

  // Constant after construction.
  const std::uint32_t m_channel;
  IDriver* const m_driver;
  ipcapture::IFrameHandler* const m_handler;
  CVideoManager* const m_manager;

  std::atomic<int> m_status{3};

  // Written by host threads, read by the receiver and manager threads.
  std::atomic<std::uint32_t> m_blockValue1{0};
  std::atomic<std::uint32_t> m_blockValue2{0};
  std::atomic<std::uint32_t> m_width{0};
  std::atomic<std::uint32_t> m_height{0};
  std::atomic<std::uint32_t> m_streamType{1};
  std::atomic<std::uint32_t> m_native{0};
  std::atomic<bool> m_firstFrame{true};
  // File time (steady time line) of the last frame the host took.
  std::atomic<std::uint64_t> m_lastFrameTime;

  // Receiver thread only.
  Delivery* m_delivery = nullptr;
  FrameDescriber m_describer;
};

}  // namespace quorvel
