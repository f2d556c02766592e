#include "ptz/base_ptz_comm.h"

#include <cstdarg>
#include <new>

#include "core/camera_record.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr const char* kThreadNameFormat = "BaseIPPTZThread_Ch%u";

std::uintptr_t ParamsWord(IIPParams* params) { return reinterpret_cast<std::uintptr_t>(params); }

}  // namespace

CBasePTZComm::CBasePTZComm(IDriver* driver, std::uint16_t channel)
    : m_driver(driver), m_channel(channel) {
  if (m_driver != nullptr) {
    const std::vector<CameraRecord>& cameras = m_driver->GetCameraList();
    if (cameras.size() > channel) m_record = cameras[channel];
  }
  m_presetCount = m_record.ptzCapabilities.presetCount;
}

CBasePTZComm::~CBasePTZComm() { StopThread(); }

bool CBasePTZComm::Open() {
  if (m_started.load()) return true;
  const std::string name = FormatString(kThreadNameFormat, static_cast<unsigned>(m_channel) + 1u);
  // CBaseThread's Start: a command posted before Open keeps its wake-up.
  const bool started = CQueueThread<CWorkItem>::Start(name);
  m_started.store(started);
  if (!started) {
    DebugMessage(LOG_ERROR, "%s: unable to start thread for PTZ channel %u",
                 "quorvel::CBasePTZComm::Open", static_cast<unsigned>(m_channel) + 1u);
  }
  return started;
}

bool CBasePTZComm::Close(std::uint32_t timeoutMs) {
  // Also a thread an earlier Close left running is waited for again.
  if (m_started.load() || IsRunning()) CQueueThread<CWorkItem>::Stop(timeoutMs);
  m_started.store(false);
  return !IsRunning();
}

bool CBasePTZComm::HasPtz(IIPParams* /*params*/) {
  const CPtzCapabilities& caps = m_record.ptzCapabilities;
  return caps.pan || caps.tilt || caps.zoom || caps.focus || caps.iris;
}

int CBasePTZComm::GetCapabilities(PtzCapabilityRecord* record) {
  if (record == nullptr) return kPtzInvalidArgument;
  const CPtzCapabilities& caps = m_record.ptzCapabilities;
  record->pan = caps.pan ? 1 : 0;
  record->tilt = caps.tilt ? 1 : 0;
  record->zoom = caps.zoom ? 1 : 0;
  record->focus = caps.focus ? 1 : 0;
  record->iris = caps.iris ? 1 : 0;
  record->reserved6 = 0;
  record->maxPresets = GetPresetCount();
  record->presetCount = 0;
  record->reserved9 = 0;
  record->reserved10 = 0;
  record->areaZoom = caps.areaZoom ? 1 : 0;
  record->center = caps.center ? 1 : 0;
  record->unzoom = caps.unzoom ? 1 : 0;
  return kPtzOk;
}

int CBasePTZComm::StartMove(IIPParams* params, std::uint32_t direction, std::uint32_t speed) {
  const CPtzCapabilities& caps = m_record.ptzCapabilities;
  if (!caps.pan && !caps.tilt) return kPtzNotSupported;
  return Queue("quorvel::CBasePTZComm::StartMove",
               new (std::nothrow)
                   CWorkItem(kCommandMove, kActionNone, ParamsWord(params), speed, direction));
}

int CBasePTZComm::StartFocus(IIPParams* params, bool nearFocus, std::uint32_t speed) {
  if (!m_record.ptzCapabilities.focus) return kPtzNotSupported;
  return Queue("quorvel::CBasePTZComm::StartFocus",
               new (std::nothrow)
                   CWorkItem(kCommandFocus, nearFocus ? kActionFocusNear : kActionFocusFar,
                             ParamsWord(params), speed));
}

int CBasePTZComm::StartIris(IIPParams* params, bool openIris, std::uint32_t speed) {
  if (!m_record.ptzCapabilities.iris) return kPtzNotSupported;
  return Queue("quorvel::CBasePTZComm::StartIris",
               new (std::nothrow)
                   CWorkItem(kCommandIris, openIris ? kActionIrisOpen : kActionIrisClose,
                             ParamsWord(params), speed));
}

int CBasePTZComm::AreaZoom(IIPParams* params, std::uint32_t x, std::uint32_t y, std::uint32_t z,
                           std::uint32_t value) {
  if (!m_record.ptzCapabilities.areaZoom) return kPtzNotSupported;
  return Queue("quorvel::CBasePTZComm::AreaZoom",
               new (std::nothrow)
                   CWorkItem(kCommandAreaZoom, kActionNone, ParamsWord(params), value, x, y, z));
}

int CBasePTZComm::Center(IIPParams* params, std::uint32_t x, std::uint32_t y, std::uint32_t value) {
  if (!m_record.ptzCapabilities.center) return kPtzNotSupported;
  return Queue("quorvel::CBasePTZComm::Center",
               new (std::nothrow)
                   CWorkItem(kCommandCenter, kActionNone, ParamsWord(params), value, x, y));
}

int CBasePTZComm::Unzoom(IIPParams* params, std::uint32_t value) {
  if (!m_record.ptzCapabilities.unzoom) return kPtzNotSupported;
  return Queue("quorvel::CBasePTZComm::Unzoom",
               new (std::nothrow)
                   CWorkItem(kCommandUnzoom, kActionNone, ParamsWord(params), value));
}

bool CBasePTZComm::StopMoving(IIPParams* params) {
  return QueueStop("quorvel::CBasePTZComm::StopMoving", params, kActionStopMoving);
}

bool CBasePTZComm::StopZooming(IIPParams* params) {
  return QueueStop("quorvel::CBasePTZComm::StopZooming", params, kActionStopZooming);
}

bool CBasePTZComm::StopFocusing(IIPParams* params) {
  return QueueStop("quorvel::CBasePTZComm::StopFocusing", params, kActionStopFocusing);
}

bool CBasePTZComm::StopIrisChanging(IIPParams* params) {
  return QueueStop("quorvel::CBasePTZComm::StopIrisChanging", params, kActionStopIris);
}

void CBasePTZComm::DebugMessage(int level, const char* format, ...) {
  if (m_driver == nullptr || format == nullptr || !m_driver->WouldLog(level)) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatStringV(format, args);
  va_end(args);
  if (text.empty()) return;
  m_driver->DebugMessage(level, "%s", text.c_str());
}

void CBasePTZComm::StopThread() {
  CQueueThread<CWorkItem>::Stop(kStopTimeoutMs);
  m_started.store(false);
}

std::uint32_t CBasePTZComm::GetPresetCount() {
  CLockGuard guard(m_stateLock);
  return m_presetCount;
}

void CBasePTZComm::SetPresetCount(std::uint32_t count) {
  CLockGuard guard(m_stateLock);
  m_presetCount = count;
}

int CBasePTZComm::Queue(const char* function, CWorkItem* item) {
  if (item == nullptr) return kPtzNotPossible;
  const std::uint32_t command = item->command;
  if (PostItemLimited(item)) return kPtzOk;
  DebugMessage(LOG_ERROR, "%s: cannot send message (%d) to thread", function,
               static_cast<int>(command));
  return kPtzNotPossible;
}

bool CBasePTZComm::QueueStop(const char* function, IIPParams* params, Action action) {
  CWorkItem* item = new (std::nothrow) CWorkItem(kCommandStop, action, ParamsWord(params), 0);
  return Queue(function, item) == kPtzOk;
}

}  // namespace quorvel
