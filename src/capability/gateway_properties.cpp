#include "capability/gateway_properties.h"

#include <algorithm>
#include <new>

#include "core/camera_record.h"
#include "core/idriver.h"
#include "capability/kalmeno_probe.h"
#include "gateway/client_message.h"
#include "infra/device_info.h"
#include "infra/settings.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr const char* kLogoff = "user/logoff";
constexpr const char* kManufacturer = "Gateway";
constexpr std::uint32_t kRate30 = 30;
constexpr std::uint32_t kRate25 = 25;
// Codec kinds: 3 every Gateway streams, 1 only above Kalmeno 2.
constexpr std::uint32_t kCodecKindAlways = 3;
constexpr std::uint32_t kCodecKindAboveLevel2 = 1;

}  // namespace

CGatewayProperties::CGatewayProperties(const DEVICE_INFO& device, std::uint32_t videoStandard)
    : CBaseCameraProperties(device, videoStandard), m_logOn(&m_client), m_profileReader(&m_client) {
  m_client.SetConnectAbortEvent(&AbortEvent());
}

CGatewayProperties::~CGatewayProperties() {
  // No receiver thread may deliver into the log-on or the profile reader
  // while they go.
  m_client.Disconnect();
}

bool CGatewayProperties::Fetch(int* status) {
  int ignored = kStatusFailed;
  int& result = status != nullptr ? *status : ignored;
  const bool done = RunSteps(result);
  // Also after a failure: a Gateway that logged the user on must not keep
  // the session. Refused (and destroyed) when the client never connected.
  m_client.Send(new (std::nothrow) ClientMessage(kLogoff));
  if (done && !IsAborted()) return true;
  if (result != kStatusLogOnRefused) result = kStatusFailed;
  return false;
}

bool CGatewayProperties::RunSteps(int& status) {
  m_kalmenoVersion = CKalmenoProbe(&AbortEvent()).Run(m_deviceInfo);
  if (m_kalmenoVersion == 0) return false;

  if (IsAborted()) return false;
  m_client.SetProtocolLevel(m_kalmenoVersion);
  if (!m_client.Connect(m_deviceInfo)) return false;

  if (IsAborted() || !LogOn(status)) return false;
  if (IsAborted() || !ReadProfile()) return false;
  if (IsAborted()) return false;
  FillResolutions();
  return true;
}

bool CGatewayProperties::LogOn(int& status) {
  const int result = m_logOn.LogOn(&AbortEvent());
  if (result == CLogOn::kLoggedOn) return true;
  status = result == CLogOn::kCredentialsRefused ? kStatusLogOnRefused : kStatusFailed;
  return false;
}

bool CGatewayProperties::ReadProfile() {
  if (!m_profileReader.ReadProfile(&AbortEvent())) return false;
  m_profileReader.ReadPtzProperties(&AbortEvent());
  m_cameras = m_profileReader.GetCameras();
  m_inputs = m_profileReader.GetInputs();
  m_outputs = m_profileReader.GetOutputs();

  m_manufacturer = kManufacturer;
  if (!m_deviceInfo.address.empty()) m_deviceName = m_deviceInfo.address;

  const auto cameras = static_cast<std::uint32_t>(m_cameras.size());
  const std::uint32_t streams = m_logOn.GetMaxRealtimeStreams();
  if (cameras == 0 && streams == 0) return false;
  m_channelCount = std::min(cameras, streams);
  if (m_channelCount == 0) m_channelCount = std::max(cameras, streams);
  // A Gateway may grant any number of streams; a device never has more
  // channels than a driver accepts at Open.
  m_channelCount = std::min(m_channelCount, kMaxChannelCount);

  m_capability1 = true;
  m_codecKinds.insert(kCodecKindAlways);
  if (m_kalmenoVersion > 2) m_codecKinds.insert(kCodecKindAboveLevel2);
  m_inputCount = static_cast<std::uint32_t>(m_inputs.size());
  m_outputCount = static_cast<std::uint32_t>(m_outputs.size());
  return true;
}

void CGatewayProperties::FillResolutions() {
  const std::uint32_t rate = m_videoStandard != 0 ? kRate30 : kRate25;
  m_frameRates.insert(rate);
  const std::uint32_t interval = IntervalOf(rate);
  for (const auto& size : ReadGatewaySettings(m_deviceInfo).resolutions) {
    AddResolution(size.first, size.second, interval);
  }
}

bool CGatewayProperties::SaveParameters(ipcapture::ICapabilityResultSink* sink) {
  if (sink == nullptr) return true;
  std::uint32_t index = 1;
  WriteParameter(sink, index++, "Device Video Standard", 0,
                 FormatString("%u", static_cast<unsigned>(m_videoStandard)));
  WriteParameter(sink, index++, "Kalmeno Version", 0,
                 FormatString("%u", static_cast<unsigned>(m_kalmenoVersion)));
  // A channel without a camera record writes nothing and takes no index,
  // so the inputs always follow the last written channel.
  for (std::uint32_t i = 0; i < m_channelCount && i < m_cameras.size(); ++i) {
    const CameraRecord& camera = m_cameras[i];
    WriteParameter(sink, index++, FormatString("Channel %d", static_cast<int>(i + 1)), 1,
                   FormatString("%u;%s;%d;%s", static_cast<unsigned>(camera.id),
                                camera.pid.c_str(), camera.ptz ? 1 : 0,
                                camera.ptzCapabilities.ToString().c_str()));
  }
  for (std::size_t j = 0; j < m_inputs.size(); ++j) {
    WriteParameter(sink, index++, FormatString("Input %d", static_cast<int>(j)), 1,
                   FormatString("%u;%s", static_cast<unsigned>(m_inputs[j].id),
                                m_inputs[j].pid.c_str()));
  }
  for (std::size_t k = 0; k < m_outputs.size(); ++k) {
    WriteParameter(sink, index++, FormatString("Output %d", static_cast<int>(k)), 1,
                   FormatString("%u;%s", static_cast<unsigned>(m_outputs[k].id),
                                m_outputs[k].pid.c_str()));
  }
  return true;
}

}  // namespace quorvel
