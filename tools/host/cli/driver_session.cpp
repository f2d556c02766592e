#include "driver_session.h"

#include "capability_query.h"

namespace strevon {
namespace hosttool {

namespace {
constexpr int kProbeTimeoutMs = 3000;
}  // namespace

DriverSession::DriverSession(const host::DriverLibrary& library, DeviceDescription device,
                             std::uint32_t connectionValue)
    : m_library(library), m_device(std::move(device)), m_connectionValue(connectionValue) {}

DriverSession::~DriverSession() { Close(); }

bool DriverSession::Open(std::string* error, bool probeFirst) {
  std::string reason;
  if (probeFirst && !ProbeTcp(m_device.endpoint, kProbeTimeoutMs, &reason)) {
    *error = "the Gateway at " + m_device.endpoint.ToString() + " is unreachable: " + reason;
    return false;
  }
  if (m_device.ChannelCount() == 0) {
    *error = "the device description of " + m_device.endpoint.ToString() + " has no channels";
    return false;
  }
  m_driver = m_library.Exports().CreateIPCaptureEx3();
  if (m_driver == nullptr) {
    *error = "the driver library could not create a driver (CreateIPCaptureEx3 returned null)";
    return false;
  }
  m_setup = std::make_unique<host::DeviceSetup>(m_device.ToDeviceConfig(m_connectionValue));
  IDebugInfoSink* sink = m_externalSink != nullptr ? m_externalSink : &m_sink;
  if (!m_driver->Open(sink, &m_allocator, m_setup.get())) {
    *error = "the driver refused to open the device at " + m_device.endpoint.ToString() +
             " (Open returned false; is the device file from a query of this Gateway?)";
    Close();
    return false;
  }
  return true;
}

void DriverSession::Close() {
  if (m_driver != nullptr) {
    // Deleting closes the driver first: channels, PTZ and I/O go with it.
    m_library.Exports().DeleteIPCaptureEx3(m_driver);
    m_driver = nullptr;
  }
}

bool DriverSession::CheckChannel(std::uint32_t channel, std::string* error) const {
  const std::uint32_t count = ChannelCount();
  if (channel < count) return true;
  *error = "channel " + std::to_string(channel) + " is out of range: the Gateway at " +
           m_device.endpoint.ToString() + " has " + std::to_string(count) + " channel" +
           (count == 1 ? "" : "s") + (count > 0 ? " (0 to " + std::to_string(count - 1) + ")" : "");
  return false;
}

quorvel::ipcapture::IIPVideoCaptureEx* DriverSession::Video(std::string* error) {
  quorvel::ipcapture::IIPVideoCaptureEx* video = m_driver ? m_driver->GetVideoCaptureEx() : nullptr;
  if (video == nullptr) {
    *error = "this driver library has no live video (GetVideoCapture returned null)";
  }
  return video;
}

quorvel::IIPPTZDriverEx* DriverSession::Ptz(std::string* error) {
  quorvel::IIPPTZDriverEx* ptz = m_driver ? m_driver->GetPTZDriverEx() : nullptr;
  if (ptz == nullptr) *error = "this driver library has no PTZ (GetPTZDriver returned null)";
  return ptz;
}

quorvel::ICaptureIOApi* DriverSession::Io(std::string* error) {
  quorvel::ICaptureIOApi* io = m_driver ? m_driver->GetCaptureIO() : nullptr;
  if (io == nullptr) {
    *error = m_device.InputCount() == 0 && m_device.OutputCount() == 0
                 ? "the Gateway at " + m_device.endpoint.ToString() + " has no inputs or outputs"
                 : "this driver library has no digital I/O (GetCaptureIO returned null)";
  }
  return io;
}

std::string DriverSession::Diagnose() const {
  std::string reason;
  if (!ProbeTcp(m_device.endpoint, kProbeTimeoutMs, &reason)) {
    return "the Gateway at " + m_device.endpoint.ToString() + " is unreachable: " + reason;
  }
  QueryRequest request;
  request.endpoint = m_device.endpoint;
  request.userName = m_device.userName;
  request.password = m_device.password;
  request.frameRateFlag = m_device.frameRateFlag;
  request.timeout = std::chrono::milliseconds(15000);
  const QueryResult result = CapabilityQuery(m_library).Run(request);
  if (!result.ok) {
    return "a capability query with the same user says: " + result.message;
  }
  return "the Gateway accepts user '" + m_device.userName +
         "' and answers a capability query, but sent no video; check its streams and the "
         "driver log (Strevon.log with DebugEnabled)";
}

}  // namespace hosttool
}  // namespace strevon
