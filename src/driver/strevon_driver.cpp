#include "driver/strevon_driver.h"

#include <chrono>

#include "core/camera_record.h"
#include "gateway/client_message.h"
#include "infra/settings.h"
#include "infra/text_helpers.h"
#include "ptz/gateway_ptz_handler.h"
#include "session/gateway_io.h"
#include "session/profile_reader.h"
#include "video/video_channel.h"

namespace quorvel {

namespace {

constexpr const char* kThreadName = "Strevon driver thread";
constexpr std::uint32_t kLoopMs = 1000;
constexpr std::uint32_t kStepPauseMs = 100;
constexpr std::uint32_t kStopTimeoutMs = 5000;
// Close and Shutdown keep to one stop time-out in all: a stop after the
// first gets what is left of it, but at least this much, time enough for a
// thread that is not stuck to notice its stop. One still running is kept.
constexpr std::uint32_t kLateStopMs = 500;
constexpr int kLoggedOn = 4;
constexpr std::uint32_t kFirstChannelParameter = 3;

using Clock = std::chrono::steady_clock;

std::uint32_t StopTimeLeft(Clock::time_point start) {
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  const std::chrono::milliseconds::rep left = kStopTimeoutMs - spent.count();
  return left > kLateStopMs ? static_cast<std::uint32_t>(left) : kLateStopMs;
}

}  // namespace

CStrevonDriver::CStrevonDriver()
    : m_logOn(&m_client), m_eventReceiver(&m_client), m_videoManager(&m_client) {
  m_client.SetConnectionUser(this);
  m_client.SetLog([this](int level, const std::string& line) {
    DebugMessage(level, "%s", line.c_str());
  });
  m_videoManager.SetDriver(this);
}

CStrevonDriver::~CStrevonDriver() {
  Close();
  // Their threads have ended: each held this object while it ran.
  m_parked.clear();
  // The receiver thread must not report a loss into a half-destroyed object,
  // and must be gone before the parts it calls into are.
  m_client.SetConnectionUser(nullptr);
  m_client.Disconnect();
}

std::shared_ptr<CStrevonDriver> CStrevonDriver::CreateShared() {
  std::shared_ptr<CStrevonDriver> driver;
  try {
    driver.reset(new CStrevonDriver());
  } catch (...) {
    return nullptr;
  }
  const std::weak_ptr<void> self = driver;
  driver->CBaseThread::SetKeepAlive(self);
  driver->m_videoManager.SetKeepAlive(self);
  driver->m_client.SetThreadsKeepAlive(self);
  return driver;
}

bool CStrevonDriver::Open(IDebugInfoSink* sink, ipcapture::IFrameAllocator* allocator,
                          ipcapture::IDeviceSetup* setup) {
  bool opened = CIPCaptureDriver::Open(sink, allocator, setup);
  if (opened) {
    m_deviceInfo.connectTimeout = 5000;
    m_deviceInfo.secondTimeout = 10000;
    const int standard = GetCustomParameterInt(1);
    if (standard != kMissingCustomParameter) m_videoStandard = standard != 0 ? 1 : 0;
    BuildLists();
    m_kalmenoVersion = GetCustomParameterInt(2);
    LogOpened(m_kalmenoVersion);
    // Read before the worker thread starts, which is the only reader.
    m_resilient = ReadGatewaySettings(m_deviceInfo).resilient;
    opened = false;
    if (m_kalmenoVersion > 0) {
      m_client.SetProtocolLevel(m_kalmenoVersion);
      m_client.SetConnectAbortEvent(&StopEvent());
      m_connected.Reset();
      opened = CBaseThread::Start(kThreadName);
    }
  }
  if (!opened) {
    DebugMessage(LOG_ERROR, "%s: Open driver failed!", "quorvel::CStrevonDriver::Open");
    Close();
  }
  return opened;
}

void CStrevonDriver::Close() { CloseFrom(Clock::now()); }

void CStrevonDriver::CloseFrom(std::chrono::steady_clock::time_point start) {
  StopEvent().Set();
  OnConnectionLost();
  CBaseThread::Stop(kStopTimeoutMs);
  // Stops every channel, waiting for frame deliveries under way: the host
  // may free a frame handler as soon as its channel has stopped.
  m_videoManager.SetThreadStopTimeout(StopTimeLeft(start));
  m_videoCapture.reset();
  m_videoManager.SetThreadStopTimeout(CVideoManager::kThreadStopTimeoutMs);
  if (m_ptzHandler) {
    if (!static_cast<CGatewayPTZHandler*>(m_ptzHandler.get())->StopThreads(StopTimeLeft(start))) {
      try {
        m_parked.emplace_back(std::move(m_ptzHandler));
      } catch (...) {
        m_ptzHandler.release();  // leaked rather than freed under its thread
      }
    }
    m_ptzHandler.reset();
  }
  std::shared_ptr<ICaptureIOApi> io = std::atomic_exchange(&m_io, std::shared_ptr<ICaptureIOApi>());
  // A worker that overstayed may still hold it; the host's use of it ends
  // here all the same (its destructor would do the same when it goes).
  if (io && io.use_count() > 1) io->StopIO();
  io.reset();
  EndHostUse();
}

void CStrevonDriver::Shutdown() {
  const Clock::time_point start = Clock::now();
  CloseFrom(start);
  m_client.SetThreadStopTimeout(StopTimeLeft(start));
  m_client.Disconnect();
}

bool CStrevonDriver::CreateIO() {
  if (std::atomic_load(&m_io)) return true;
  const auto counts = GetIOCounts();
  if (counts.first == 0 && counts.second == 0) return true;
  try {
    std::atomic_store(&m_io, std::shared_ptr<ICaptureIOApi>(new CGatewayIO(
                                 this, &m_eventReceiver, &m_client, weak_from_this())));
  } catch (...) {
    return false;  // no memory: shared_ptr has deleted what it was given
  }
  return true;
}

bool CStrevonDriver::CreatePTZ() {
  if (m_ptzHandler) return true;
  CGatewayPTZHandler* handler = new (std::nothrow) CGatewayPTZHandler(this, GetChannelCount());
  if (handler == nullptr) return false;
  handler->SetKeepAlive(weak_from_this());
  m_ptzHandler.reset(handler);
  return true;
}

ICameraChannel* CStrevonDriver::CreateChannel(std::uint32_t channel,
                                              ipcapture::IFrameHandler* handler) {
  return new (std::nothrow) CVideoChannel(channel, this, handler, &m_videoManager);
}

ISecondaryChannel* CStrevonDriver::CreateSecondaryChannel(std::uint32_t /*channel*/,
                                                          ipcapture::IFrameHandler* /*handler*/) {
  return nullptr;
}

void CStrevonDriver::BuildLists() {
  m_cameras.clear();
  m_inputs.clear();
  m_outputs.clear();
  std::uint32_t index = kFirstChannelParameter;
  for (std::uint32_t i = 0; i < GetChannelCount(); ++i, ++index) {
    const std::string text = GetCustomParameter(index);
    if (text.empty()) continue;
    const std::vector<std::string> pieces = Split(text, ';');
    CameraRecord record;
    if (pieces.size() == 4) {
      record.id = static_cast<std::uint32_t>(ParseLeadingInt(pieces[0]));
      record.pid = pieces[1];
      record.ptz = ParseLeadingInt(pieces[2]) != 0;
      record.ptzCapabilities.FromString(pieces[3]);
    }
    if (!record.pid.empty()) m_cameras.push_back(record);
  }
  const auto counts = GetIOCounts();
  for (int list = 0; list < 2; ++list) {
    const std::uint32_t count = list == 0 ? counts.first : counts.second;
    std::vector<IORecord>& target = list == 0 ? m_inputs : m_outputs;
    for (std::uint32_t i = 0; i < count; ++i, ++index) {
      const std::string text = GetCustomParameter(index);
      if (text.empty()) continue;
      const std::vector<std::string> pieces = Split(text, ';');
      IORecord record;
      if (pieces.size() == 2) {
        record.id = static_cast<std::uint32_t>(ParseLeadingInt(pieces[0]));
        record.pid = pieces[1];
      }
      if (!record.pid.empty()) target.push_back(record);
    }
  }
}

void CStrevonDriver::ThreadFunction() {
  for (;;) {
    try {
      if (!m_connected.Wait(0)) ConnectSequence();
    } catch (...) {
      // A failed attempt is retried on the next round.
    }
    if (WaitForStop(kLoopMs)) return;
  }
}

void CStrevonDriver::ConnectSequence() {
  CEvent* stop = &StopEvent();
  // Taken before Connect: a loss of the new connection may be reported
  // before Connect returns.
  const std::uint64_t losses = m_losses.load();
  if (!m_client.Connect(m_deviceInfo)) return;
  if (WaitForStop(kStepPauseMs)) return;
  if (m_logOn.LogOn(stop) != kLoggedOn) return;
  if (WaitForStop(kStepPauseMs)) return;
  if (!m_eventReceiver.Subscribe()) return;
  // The subscription starts with no consumers; a host that started I/O
  // keeps receiving input events without calling StartIO again.
  // Held while in use: Close may let go of it meanwhile.
  const std::shared_ptr<ICaptureIOApi> io = std::atomic_load(&m_io);
  if (m_resilient && io && !IsStopSignalled()) static_cast<CGatewayIO*>(io.get())->Resubscribe();
  if (WaitForStop(kStepPauseMs)) return;
  CProfileReader reader(&m_client);
  if (!reader.ReadProfile(stop)) return;
  m_connected.Set();
  // The connection may have gone between the profile reply and the line
  // above; the loss path's Reset then came first and would be undone,
  // leaving the driver "connected" to nothing and never reconnecting.
  if (m_losses.load() != losses) {
    m_connected.Reset();
    return;
  }
  // A new connection carries no stream subscriptions; a motion-only stream
  // that was online would otherwise never be asked for again.
  if (m_resilient) m_videoManager.ResubscribeAll();
}

void CStrevonDriver::OnConnectionLost() {
  // Counted before the reset, so that a connect sequence that sets the
  // event after this reset also sees the count move.
  ++m_losses;
  m_eventReceiver.Unsubscribe();
  m_client.Send(new ClientMessage("user/logoff"));
  m_connected.Reset();
}

}  // namespace quorvel
