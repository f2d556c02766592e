#include "ptz/base_ptz_control.h"

#include <cstring>
#include <string>

namespace quorvel {

namespace {

// The direction the host may not use; 11 and above reach the device.
constexpr std::uint32_t kRefusedDirection = 10;

// Copies name with its terminating zero when it fits: 1, or -3.
int CopyName(const std::string& name, char* buffer, std::uint32_t bufferSize) {
  if (name.size() >= bufferSize) return kPtzInvalidArgument;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return kPtzOk;
}

}  // namespace

CBasePTZControl::CBasePTZControl(IDriver* driver, std::uint32_t channel)
    : m_driver(driver), m_channel(channel), m_presets(channel) {}

CBasePTZControl::~CBasePTZControl() { CBasePTZControl::ReleaseComm(); }

int CBasePTZControl::Initialize() {
  if (!m_comm || !m_comm->HasPtz(this)) return kPtzNotPossible;
  m_presets.SetComm(m_comm.get());
  return kPtzOk;
}

int CBasePTZControl::Move(std::uint32_t direction, std::uint32_t speed) {
  if (!m_comm) return kPtzNotPossible;
  if (direction == kRefusedDirection) return kPtzInvalidArgument;
  const bool zoom =
      direction == CBasePTZComm::kDirectionZoomIn || direction == CBasePTZComm::kDirectionZoomOut;
  return AfterMotion(m_comm->StartMove(this, direction, speed), zoom ? &m_zooming : &m_moving);
}

int CBasePTZControl::StopMotion() {
  if (!m_comm) return kPtzNotPossible;
  // Each flag stays set when its stop could not be queued.
  if (m_moving.load() && m_comm->StopMoving(this)) m_moving.store(false);
  if (m_zooming.load() && m_comm->StopZooming(this)) m_zooming.store(false);
  if (m_irisChanging.load() && m_comm->StopIrisChanging(this)) m_irisChanging.store(false);
  if (m_focusing.load() && m_comm->StopFocusing(this)) m_focusing.store(false);
  const bool anyLeft =
      m_moving.load() || m_zooming.load() || m_irisChanging.load() || m_focusing.load();
  return anyLeft ? kPtzNotPossible : kPtzOk;
}

int CBasePTZControl::CenterAt(std::uint32_t x, std::uint32_t y, std::uint32_t value) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->Center(this, x, y, value), nullptr);
}

int CBasePTZControl::ZoomIn(std::uint32_t speed) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->StartMove(this, CBasePTZComm::kDirectionZoomIn, speed), &m_zooming);
}

int CBasePTZControl::ZoomOut(std::uint32_t speed) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->StartMove(this, CBasePTZComm::kDirectionZoomOut, speed), &m_zooming);
}

int CBasePTZControl::UnzoomView(std::uint32_t value) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->Unzoom(this, value), nullptr);
}

int CBasePTZControl::ZoomToArea(std::uint32_t x, std::uint32_t y, std::uint32_t z,
                                std::uint32_t value) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->AreaZoom(this, x, y, z, value), nullptr);
}

int CBasePTZControl::FocusNear(std::uint32_t speed) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->StartFocus(this, true, speed), &m_focusing);
}

int CBasePTZControl::FocusFar(std::uint32_t speed) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->StartFocus(this, false, speed), &m_focusing);
}

int CBasePTZControl::IrisOpen(std::uint32_t speed) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->StartIris(this, true, speed), &m_irisChanging);
}

int CBasePTZControl::IrisClose(std::uint32_t speed) {
  if (!m_comm) return kPtzNotPossible;
  return AfterMotion(m_comm->StartIris(this, false, speed), &m_irisChanging);
}

int CBasePTZControl::GetCapabilities(PtzCapabilityRecord* record) {
  if (!m_comm) return kPtzNotPossible;
  if (record == nullptr) return kPtzInvalidArgument;
  m_comm->GetCapabilities(record);
  record->maxPresets = m_presets.GetLimit();
  record->presetCount = static_cast<std::uint32_t>(m_presets.GetCount());
  return kPtzOk;
}

int CBasePTZControl::RefreshPresets() {
  m_presets.Refresh();
  return m_presets.GetCount();
}

int CBasePTZControl::GetPresetName(std::uint32_t position, char* buffer, std::uint32_t bufferSize) {
  if (buffer == nullptr) return kPtzInvalidArgument;
  std::string name;
  if (!m_presets.GetNameAt(position, name)) return kPtzNoSuchPreset;
  return CopyName(name, buffer, bufferSize);
}

int CBasePTZControl::GoToPreset(std::uint32_t speed, const char* name) {
  if (name == nullptr) return kPtzInvalidArgument;
  return m_presets.GoToPreposition(std::string(name), speed) ? kPtzOk : kPtzNoSuchPreset;
}

int CBasePTZControl::AddPreset(const char* name) {
  if (name == nullptr) return kPtzInvalidArgument;
  return m_presets.AddPreposition(std::string(name));
}

int CBasePTZControl::RemovePreset(const char* name) {
  if (name == nullptr) return kPtzInvalidArgument;
  return m_presets.DeletePreposition(std::string(name)) ? kPtzOk : kPtzNoSuchPreset;
}

int CBasePTZControl::GetCurrentPresetName(char* buffer, std::uint32_t bufferSize) {
  if (buffer == nullptr) return kPtzInvalidArgument;
  std::string name;
  if (!m_presets.GetCurrentName(name)) return kPtzNoSuchPreset;
  return CopyName(name, buffer, bufferSize);
}

int CBasePTZControl::QueryFeature(std::uint32_t value) { return value == 1 ? 1 : 0; }

unsigned char CBasePTZControl::SetParamFlag1(unsigned char value) {
  m_paramFlag1.store(value);
  return value;
}

unsigned char CBasePTZControl::SetParamFlag2(unsigned char value) {
  m_paramFlag2.store(value);
  return value;
}

void CBasePTZControl::ReleaseComm() {
  if (!m_comm) return;
  m_presets.SetComm(nullptr);
  m_comm->Close();
  m_comm.reset();
}

bool CBasePTZControl::OpenComm() {
  try {
    m_comm.reset(CreateComm());
  } catch (...) {
    m_comm.reset();
  }
  if (!m_comm) return false;
  m_comm->SetKeepAlive(m_keepAlive);
  return m_comm->Open();
}

bool CBasePTZControl::StopComm(std::uint32_t timeoutMs) {
  return !m_comm || m_comm->Close(timeoutMs);
}

int CBasePTZControl::AfterMotion(int result, std::atomic<bool>* flag) {
  if (result != kPtzOk) return result;
  m_presets.ClearCurrent();
  if (flag != nullptr) flag->store(true);
  return result;
}

}  // namespace quorvel
