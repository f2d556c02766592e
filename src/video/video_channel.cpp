#include "video/video_channel.h"

#include <new>

#include "core/camera_record.h"
#include "gateway/client_message.h"
#include "gateway/gw_client.h"
#include "gateway/server_message.h"
#include "infra/device_info.h"
#include "infra/settings.h"
#include "infra/text_helpers.h"
#include "infra/time.h"
#include "video/frame_description.h"
#include "video/stream_timing.h"
#include "video/video_manager.h"

namespace quorvel {

namespace {

constexpr std::uint32_t kJpegConnectionValue = 1;
// The name the host's allocator is told.
const char kDriverName[] = "Strevon";

// Hands the frame back to the allocator exactly once, whichever way the
// delivery ends. Holds copies, never the channel: the host may destroy the
// channel while its callback runs.
class FrameRelease {
 public:
  FrameRelease(ipcapture::IFrameAllocator* allocator, ipcapture::ICaptureFrame* frame)
      : m_allocator(allocator), m_frame(frame) {}
  ~FrameRelease() { m_allocator->ReleaseFrame(m_frame); }
  FrameRelease(const FrameRelease&) = delete;
  FrameRelease& operator=(const FrameRelease&) = delete;

 private:
  ipcapture::IFrameAllocator* m_allocator;
  ipcapture::ICaptureFrame* m_frame;
};

}  // namespace

// Debug-level line through a given driver pointer, formatted only when
// someone would read it.
#define VC_LOG_VIA(driver, level, method, format, ...)                               \
  do {                                                                               \
    IDriver* const log_ = (driver);                                                  \
    if (log_ != nullptr && log_->WouldLog(level)) {                                  \
      log_->DebugMessage(level, format, "quorvel::CVideoChannel::" method,           \
                         ##__VA_ARGS__);                                             \
    }                                                                                \
  } while (0)
#define VC_LOG(method, format, ...) VC_LOG_VIA(m_driver, LOG_DEBUG, method, format, ##__VA_ARGS__)

CVideoChannel::CVideoChannel(std::uint32_t channel, IDriver* driver,
                             ipcapture::IFrameHandler* handler, CVideoManager* manager)
    : m_channel(channel),
      m_driver(driver),
      m_handler(handler),
      m_manager(manager),
      m_lastFrameTime(GetSystemFileTime()) {}

CVideoChannel::~CVideoChannel() {
  // Destroyed by the host from inside its own frame callback: the delivery
  // below us on this thread must not touch the channel any more.
  if (m_delivery != nullptr) m_delivery->channelGone = true;
}

void CVideoChannel::SetChannelSetup(ipcapture::IChannelSetup* /*setup*/) {}

bool CVideoChannel::Start(const ChannelParameters* parameters) {
  m_firstFrame.store(true);
  VC_LOG("Start", "%s: Enter...");
  if (parameters != nullptr) {
    m_blockValue1.store(parameters->firstStreamValue);
    m_blockValue2.store(parameters->secondStreamValue);
    m_width.store(parameters->width);
    m_height.store(parameters->height);
  }
  if (m_driver != nullptr) {
    m_streamType.store(ReadStreamType(*m_driver->GetDeviceInfo(), m_channel) == kStreamTypeMotion
                           ? 0
                           : 1);
    m_native.store(m_driver->GetConnectionValue() != kJpegConnectionValue ? 1 : 0);
  }
  if (HasCamera()) {
    if (m_manager != nullptr) m_manager->AddChannel(BuildRecord());
  } else if (m_driver != nullptr) {
    // Without a camera there is no pid to subscribe: the channel stays
    // offline until the device's channel parameters are fixed.
    m_driver->DebugMessage(LOG_ERROR,
                           "%s: ERROR Channel %u has no camera in the channel parameters; "
                           "its stream is not subscribed",
                           "quorvel::CVideoChannel::Start", m_channel);
  }
  VC_LOG("Start", "%s: Exit");
  return true;
}

void CVideoChannel::Stop() {
  VC_LOG("Stop", "%s: Enter");
  if (HasCamera() && m_manager != nullptr) m_manager->RemoveChannel(BuildRecord());
  SetChannelStatus(CVideoManager::kStatusOffline);
  VC_LOG("Stop", "%s: Exit");
}

bool CVideoChannel::ChangeChannelParameters(const ChannelParameters* parameters) {
  VC_LOG("ChangeChannelParameters", "%s: Enter");
  m_firstFrame.store(true);
  if (parameters != nullptr) {
    m_width.store(parameters->width);
    m_height.store(parameters->height);
    m_blockValue1.store(parameters->firstStreamValue);
  }
  if (HasCamera() && m_manager != nullptr) {
    m_manager->RemoveChannel(BuildRecord());
    // The stall watchdog counts from the new subscription.
    if (m_manager->AddChannel(BuildRecord())) m_lastFrameTime.store(GetSystemFileTime());
  }
  VC_LOG("ChangeChannelParameters", "%s: Exit");
  return true;
}

int CVideoChannel::GetChannelStatus() { return m_status.load(); }

void CVideoChannel::SetChannelStatus(int status) {
  VC_LOG("SetChannelStatus", "%s: New channel status is %d", status);
  if (m_status.load() == status || m_status.exchange(status) == status) return;
  IDriver* const driver = m_driver;
  ipcapture::IFrameHandler* const handler = m_handler;
  const bool logged = driver != nullptr && driver->WouldLog(LOG_INFO);
  switch (status) {
    case CVideoManager::kStatusOnline:
      if (logged) {
        driver->DebugMessage(LOG_INFO, "%s: %s is online", "quorvel::CVideoChannel::SetChannelStatus",
                             ChannelName().c_str());
      }
      break;
    case CVideoManager::kStatusSignalLost:
      if (logged) {
        driver->DebugMessage(LOG_INFO, "%s: Signal was lost for %s",
                             "quorvel::CVideoChannel::SetChannelStatus", ChannelName().c_str());
      }
      // Last: the host may stop and destroy the channel from in here.
      if (handler != nullptr) handler->OnSignalLost();
      break;
    case CVideoManager::kStatusOffline:
      if (logged) {
        driver->DebugMessage(LOG_INFO, "%s: %s is offline. Channel was stopped",
                             "quorvel::CVideoChannel::SetChannelStatus", ChannelName().c_str());
      }
      break;
    default:
      break;
  }
}

int CVideoChannel::GetRefreshStatus() {
  if (m_streamType.load() == 1) {
    const std::uint64_t last = m_lastFrameTime.load();
    if (GetElapsedMsSince(last) > GetStreamTiming().stallMs) SetChannelStatus(CVideoManager::kStatusOffline);
  }
  return GetChannelStatus();
}

void CVideoChannel::OnFrame(ServerMessage& message) {
  IDriver* const driver = m_driver;
  if (driver == nullptr) return;
  // Cleared before the takeover, so that a parameter change arriving
  // meanwhile on a host thread re-arms it for the next frame.
  if (m_firstFrame.load() && m_firstFrame.exchange(false)) {
    VC_LOG("OnFrame", "%s: First frame received");
    SendTakeover();
  } else {
    VC_LOG("OnFrame", "%s: Frame received");
  }

  ipcapture::IFrameAllocator* const allocator = driver->GetFrameAllocator();
  if (allocator == nullptr) {
    VC_LOG("OnFrame", "%s: ERROR Frame allocator is NULL");
    return;
  }
  if (message.BodySize() == 0) {
    VC_LOG("OnFrame", "%s: ERROR Get data from message FAILED");
    return;
  }
  const FrameDescription description = m_describer.Describe(message, driver->GetKalmenoVersion());
  const std::uint32_t size = static_cast<std::uint32_t>(message.BodySize());
  ipcapture::ICaptureFrame* const frame =
      allocator->AllocateFrame(description.fourcc, size, kDriverName);
  if (frame == nullptr) {
    VC_LOG("OnFrame", "%s: ERROR Frame allocation FAILED");
    return;
  }
  FrameRelease release(allocator, frame);

  unsigned char* const buffer = frame->GetBuffer();
  if (buffer == nullptr) {
    VC_LOG("OnFrame", "%s: ERROR Frame buffer is NULL");
    return;
  }
  // The body comes straight from the socket into the host's buffer when it
  // is still in the stream; a frame dropped before this point leaves it
  // there for the reader to skip.
  if (!message.TakeBody(buffer, size)) {
    VC_LOG("OnFrame", "%s: ERROR Frame data copy FAILED");
    return;
  }
  frame->SetWidth(description.width);
  frame->SetHeight(description.height);
  frame->SetSizeClass(FrameSizeClass(description.width, description.height));
  frame->SetDataSize(size);
  frame->SetFourcc(description.fourcc);
  frame->FinishFrame();

  ipcapture::IFrameHandler* const handler = m_handler;
  if (handler == nullptr) {
    VC_LOG("OnFrame", "%s: ERROR mFrameHandler is NULL");
    return;
  }
  Delivery delivery;
  m_delivery = &delivery;
  const bool taken = handler->CaptureFrameCallback(frame);
  if (!delivery.channelGone) {
    m_delivery = nullptr;
    if (taken) m_lastFrameTime.store(GetSystemFileTimeCoarse(), std::memory_order_relaxed);
  }
  if (!taken) VC_LOG_VIA(driver, LOG_DEBUG, "OnFrame", "%s: ERROR CaptureFrameCallback FAILED");
}

void CVideoChannel::WaitForDeliveries() {
  if (m_manager != nullptr) m_manager->WaitForDeliveries(this);
}

bool CVideoChannel::HasCamera() {
  return m_driver != nullptr && m_channel < m_driver->GetCameraList().size();
}

ChannelStreamRecord CVideoChannel::BuildRecord() {
  ChannelStreamRecord record;
  record.channel = m_channel;
  record.cameraChannel = this;
  if (HasCamera()) record.camera = m_driver->GetCameraList()[m_channel];
  record.blockValue1 = m_blockValue1.load();
  record.blockValue2 = m_blockValue2.load();
  record.width = m_width.load();
  record.height = m_height.load();
  record.streamType = m_streamType.load();
  record.native = m_native.load();
  return record;
}

std::string CVideoChannel::ChannelName() {
  const DEVICE_INFO* device = m_driver->GetDeviceInfo();
  const char* address = device != nullptr ? device->address.c_str() : "";
  if (m_driver->GetChannelCount() > 1) {
    return FormatString("Server %s (channel %u)", address, m_channel);
  }
  return FormatString("Camera %s", address);
}

void CVideoChannel::SendTakeover() {
  const std::vector<CameraRecord>& cameras = m_driver->GetCameraList();
  if (cameras.size() <= m_channel || !cameras[m_channel].ptz) return;
  VC_LOG("OnFrame", "%s: Send DOME command 'camera/ptz/takeover' (id=%u)", m_channel);
  CGWClient* const client = m_driver->GetClient();
  if (client == nullptr) return;
  ClientMessage* message = nullptr;
  try {
    message = new ClientMessage("camera/ptz/takeover");
    message->AddParam("pid", cameras[m_channel].pid);
  } catch (...) {
    // Without memory the takeover is skipped; the frame is still delivered.
    delete message;
    return;
  }
  client->Send(message);  // the client owns it from here
}

}  // namespace quorvel
