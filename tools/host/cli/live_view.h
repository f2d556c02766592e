// LiveView: one running video channel used by `ptz` and `io` as the sign
// that the driver has logged on to the Gateway (a host sees no other: the
// driver connects on its own thread and says nothing until frames come),
// and as the operator's picture while moving a camera. Starts the channel
// in StartAndWait, stops it in Stop and the destructor; must be
// destroyed before the DriverSession that owns the driver. Main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "channel_monitor.h"
#include "driver_session.h"

namespace strevon {
namespace hosttool {

class LiveView {
 public:
  LiveView(DriverSession& session, std::uint32_t channel);
  ~LiveView();
  LiveView(const LiveView&) = delete;
  LiveView& operator=(const LiveView&) = delete;

  // Starts the channel and waits for its first frame. False with a reason
  // (the driver's diagnosis when nothing came).
  bool StartAndWait(std::chrono::milliseconds timeout, std::string* error);
  void Stop();
  std::uint64_t Frames() const { return m_monitor.FrameCount(); }

 private:
  DriverSession& m_session;
  ChannelMonitor m_monitor;
  quorvel::ipcapture::IIPVideoCaptureEx* m_video = nullptr;
  bool m_running = false;
};

}  // namespace hosttool
}  // namespace strevon
