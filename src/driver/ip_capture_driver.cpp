#include "driver/ip_capture_driver.h"

#include <cstdarg>
#include <new>

#include "driver/ip_video_capture.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {
constexpr const char* kNoParameter = "(none)";
}  // namespace

CIPCaptureDriver::CIPCaptureDriver() = default;

CIPCaptureDriver::~CIPCaptureDriver() { DestroyOpenParts(); }

bool CIPCaptureDriver::Open(IDebugInfoSink* sink, ipcapture::IFrameAllocator* allocator,
                            ipcapture::IDeviceSetup* setup) {
  // A host that hands over missing pieces gets a failed Open, not a crash.
  if (setup == nullptr) return false;
  ipcapture::IDeviceParams* device = setup->GetDeviceParams();
  ipcapture::IConnectionParams* connection = setup->GetConnectionParams();
  if (device == nullptr || connection == nullptr) return false;

  m_connectionValue = connection->GetConnectionValue();
  m_debugSink = sink;
  m_frameAllocator.store(allocator);
  m_inputCount = device->GetInputCount();
  m_outputCount = device->GetOutputCount();
  m_channelCount = device->GetChannelCount();
  if (m_channelCount > kMaxChannelCount || m_inputCount > kMaxIOCount ||
      m_outputCount > kMaxIOCount) {
    return false;
  }
  const char* address = connection->GetAddress();
  const std::uint16_t port = connection->GetPort();
  const char* user = connection->GetUserName();
  const char* password = connection->GetPassword();
  const char* model = device->GetModel();
  if (address == nullptr || user == nullptr || password == nullptr || model == nullptr) {
    return false;
  }
  m_deviceInfo.address = address;
  m_deviceInfo.port = port;
  m_deviceInfo.userName = user;
  m_deviceInfo.password = password;
  m_deviceInfo.model = model;

  if (!m_log.Open(m_deviceInfo, GetDriverName(), m_debugSink)) return false;

  // A driver closed and opened again starts from a clean parameter table.
  m_customParameters.clear();
  for (int index = 1;; ++index) {
    const char* value = setup->GetCustomParameter(index);
    if (value == nullptr) break;
    m_customParameters[index] = value;
  }

  if (!CreateIO() || !CreatePTZ()) return false;
  const std::uint32_t channels = device->GetChannelCount();
  if (channels > kMaxChannelCount) return false;
  try {
    m_videoCapture.reset(new CIPVideoCapture(this, channels));
  } catch (...) {
    return false;
  }
  return true;
}

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() { return m_videoCapture.get(); }

ICaptureIOApi* CIPCaptureDriver::GetCaptureIO() { return std::atomic_load(&m_io).get(); }

IIPPTZDriver* CIPCaptureDriver::GetPTZDriver() { return m_ptzHandler.get(); }

ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCaptureEx() { return m_videoCapture.get(); }

IIPPTZDriverEx* CIPCaptureDriver::GetPTZDriverEx() { return m_ptzHandler.get(); }

void CIPCaptureDriver::LogOpened(int kalmenoVersion) {
  const std::string name = GetDriverName();
  if (name.empty() || m_deviceInfo.model.empty()) return;
  const std::string text =
      FormatString("DRIVER IS OPENED (name: %s, device model: %s", name.c_str(),
                   m_deviceInfo.model.c_str()) +
      FormatString(", Kalmeno: %d", kalmenoVersion) +
      FormatString(", address: %s:%u)", m_deviceInfo.address.c_str(),
                   static_cast<unsigned>(m_deviceInfo.port));
  DebugMessage(LOG_SUMMARY, "%s", text.c_str());
}

void CIPCaptureDriver::DebugMessage(int level, const char* format, ...) {
  if (format == nullptr || !m_log.WouldLog(level)) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatStringV(format, args);
  va_end(args);
  if (text.empty()) return;
  m_log.Write(level, text);
}

std::string CIPCaptureDriver::GetCustomParameter(std::uint32_t index) {
  const auto it = m_customParameters.find(static_cast<int>(index));
  if (it == m_customParameters.end() || it->second == kNoParameter) return std::string();
  return it->second;
}

int CIPCaptureDriver::GetCustomParameterInt(std::uint32_t index) {
  int value = 0;
  if (!ParseInt(GetCustomParameter(index), value)) return kMissingCustomParameter;
  return value;
}

void CIPCaptureDriver::DestroyOpenParts() {
  m_videoCapture.reset();
  m_ptzHandler.reset();
  std::atomic_store(&m_io, std::shared_ptr<ICaptureIOApi>());
}

void CIPCaptureDriver::EndHostUse() {
  m_frameAllocator.store(nullptr);
  m_debugSink = nullptr;
  m_log.CloseSink();
}

}  // namespace quorvel
