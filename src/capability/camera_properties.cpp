#include "capability/camera_properties.h"

#include "infra/device_info.h"
#include "infra/text_helpers.h"

namespace quorvel {

using ipcapture::ICapabilityFrameIntervalList;
using ipcapture::ICapabilityInfoItem;
using ipcapture::ICapabilityParameter;
using ipcapture::ICapabilityResolutionList;
using ipcapture::ICapabilityResultSink;

namespace {

constexpr std::uint32_t kRate30 = 30;
constexpr std::uint32_t kRate25 = 25;

// Capability ids of the result sink.
constexpr std::uint32_t kCapChannels = 0;
constexpr std::uint32_t kCapFlag1 = 1;
constexpr std::uint32_t kCapInputs = 2;
constexpr std::uint32_t kCapOutputs = 3;
constexpr std::uint32_t kCapAudioInputs = 4;
constexpr std::uint32_t kCapFlag5 = 5;
constexpr std::uint32_t kCapCodecKind2 = 6;
constexpr std::uint32_t kCapCodecKind3 = 7;
constexpr std::uint32_t kCapCodecKind1 = 8;
constexpr std::uint32_t kCapFlag11 = 11;
constexpr std::uint32_t kCapFlag12 = 12;
constexpr std::uint32_t kCapAudioChannels = 13;
constexpr std::uint32_t kCapAudioMode1 = 14;
constexpr std::uint32_t kCapAudioMode2 = 15;
constexpr std::uint32_t kCapAudio16 = 16;
constexpr std::uint32_t kCapAudio17 = 17;

constexpr std::uint32_t kAudioInputParameter = 101;
constexpr std::uint32_t kAudioOutputParameter = 102;

void SetInfoItem(ICapabilityResultSink* sink, std::uint32_t index, const std::string& value) {
  ICapabilityInfoItem* item = sink->GetInfoItem(index);
  if (item != nullptr) item->SetValue(value.c_str());
}

}  // namespace

std::string CAudioCapabilities::ToString() const {
  return FormatString("Count=%u; IsStereo=%u", static_cast<unsigned>(count), stereo ? 1u : 0u);
}

CBaseCameraProperties::CBaseCameraProperties(const DEVICE_INFO& device,
                                             std::uint32_t videoStandard)
    : m_deviceInfo(device), m_videoStandard(videoStandard) {}

CBaseCameraProperties::~CBaseCameraProperties() = default;

std::uint32_t CBaseCameraProperties::IntervalOf(std::uint32_t rate) {
  if (rate == 0) return 1;
  // The rate is taken in single precision before dividing; hosts compare
  // these intervals with ones they computed the same way.
  const double interval = 1000.0 / static_cast<double>(static_cast<float>(rate)) + 0.5;
  return static_cast<std::uint32_t>(interval);
}

void CBaseCameraProperties::AddResolution(std::uint32_t width, std::uint32_t height,
                                          std::uint32_t frameIntervalMs) {
  const auto w = static_cast<std::uint16_t>(width);
  const auto h = static_cast<std::uint16_t>(height);
  if (w == 0 || h == 0) return;
  for (ResolutionEntry& entry : m_resolutions) {
    if (entry.width == w && entry.height == h) {
      if (frameIntervalMs != 0 && frameIntervalMs < entry.frameIntervalMs) {
        entry.frameIntervalMs = frameIntervalMs;
      }
      return;
    }
  }
  m_resolutions.push_back(ResolutionEntry{w, h, frameIntervalMs});
}

bool CBaseCameraProperties::Save(ICapabilityResultSink* sink) {
  if (sink == nullptr) return false;
  if (!SaveDeviceName(sink)) return false;
  SaveConnectionItems(sink);
  if (!SaveCodecs(sink)) return false;
  if (!SaveResolutions(sink)) return false;
  if (!SaveFrameIntervals(sink->GetFrameIntervalList(1))) return false;
  SaveFlagsAndAudio(sink);
  return SaveParameters(sink);
}

bool CBaseCameraProperties::SaveDeviceName(ICapabilityResultSink* sink) {
  if (m_deviceName.empty()) return false;
  const std::string name =
      m_manufacturer.empty() ? m_deviceName : m_manufacturer + " " + m_deviceName;
  sink->SetDeviceName(name.c_str());
  return true;
}

void CBaseCameraProperties::SaveConnectionItems(ICapabilityResultSink* sink) {
  SetInfoItem(sink, 1, m_deviceInfo.address);
  SetInfoItem(sink, 2, FormatString("%u", static_cast<unsigned>(m_deviceInfo.port)));
  SetInfoItem(sink, 3, m_deviceInfo.userName);
  SetInfoItem(sink, 4, m_deviceInfo.password);
}

bool CBaseCameraProperties::SaveCodecs(ICapabilityResultSink* sink) {
  bool anySent = false;
  for (std::uint32_t kind : m_codecKinds) {
    std::uint32_t id = 0;
    if (kind == 1) {
      id = kCapCodecKind1;
    } else if (kind == 2) {
      id = kCapCodecKind2;
    } else if (kind == 3) {
      id = kCapCodecKind3;
    } else {
      continue;
    }
    sink->SetCapability(id, 1);
    anySent = true;
  }
  if (!anySent || m_channelCount == 0) return false;
  sink->SetCapability(kCapChannels, m_channelCount);
  return true;
}

bool CBaseCameraProperties::SaveResolutions(ICapabilityResultSink* sink) {
  ICapabilityResolutionList* list = sink->GetResolutionList();
  if (list == nullptr || m_resolutions.empty()) return false;
  std::uint32_t fallbackRate = m_videoStandard != 0 ? kRate30 : kRate25;
  if (!m_frameRates.empty()) fallbackRate = *m_frameRates.rbegin();
  for (const ResolutionEntry& entry : m_resolutions) {
    const std::uint32_t interval =
        entry.frameIntervalMs != 0 ? entry.frameIntervalMs : IntervalOf(fallbackRate);
    const std::string text = FormatString("%ux%u", static_cast<unsigned>(entry.width),
                                          static_cast<unsigned>(entry.height));
    list->AddResolution(text.c_str(), entry.width, entry.height, interval);
  }
  return true;
}

bool CBaseCameraProperties::SaveFrameIntervals(ICapabilityFrameIntervalList* list) {
  if (list == nullptr || m_frameRates.empty()) return false;
  for (std::uint32_t rate : m_frameRates) {
    if (rate != 0) list->AddInterval(IntervalOf(rate));
  }
  const std::uint32_t wanted =
      m_preferredFrameRate != 0 ? m_preferredFrameRate : *m_frameRates.rbegin() / 2;
  const auto it = m_frameRates.lower_bound(wanted);
  if (it != m_frameRates.end() && *it != 0) list->SetDefaultInterval(IntervalOf(*it));
  return true;
}

void CBaseCameraProperties::SaveFlagsAndAudio(ICapabilityResultSink* sink) {
  if (m_capability1) sink->SetCapability(kCapFlag1, 1);
  if (m_capability5) sink->SetCapability(kCapFlag5, 1);
  sink->SetCapability(kCapFlag11, m_capability11 ? 1 : 0);
  sink->SetCapability(kCapFlag12, m_capability12 ? 1 : 0);
  if (m_inputCount != 0) sink->SetCapability(kCapInputs, m_inputCount);
  if (m_outputCount != 0) sink->SetCapability(kCapOutputs, m_outputCount);
  if (m_audioChannelCount != 0 && m_audioMode != 2) {
    sink->SetCapability(kCapAudioChannels, m_audioChannelCount);
    sink->SetCapability(kCapAudioMode2, m_audioMode == 2 ? 1 : 0);
    sink->SetCapability(kCapAudioMode1, m_audioMode == 1 ? 1 : 0);
    sink->SetCapability(kCapAudio16, 0);
    sink->SetCapability(kCapAudio17, 0);
  }
  if (m_audioInput.count != 0) {
    sink->SetCapability(kCapAudioInputs, m_audioInput.count);
    WriteParameter(sink, kAudioInputParameter, "Audio Input Parameters", 1,
                   m_audioInput.ToString());
  }
  if (m_audioOutput.count != 0) {
    WriteParameter(sink, kAudioOutputParameter, "Audio Output Parameters", 1,
                   m_audioOutput.ToString());
  }
}

void CBaseCameraProperties::WriteParameter(ICapabilityResultSink* sink, std::uint32_t index,
                                           const std::string& name, std::uint32_t perObject,
                                           const std::string& value) {
  ICapabilityParameter* parameter = sink->AddParameter(index);
  if (parameter == nullptr) return;
  parameter->SetName(name.c_str());
  parameter->SetOption(0);
  parameter->SetPerObject(perObject);
  parameter->SetValue(value.empty() ? "(none)" : value.c_str());
}

}  // namespace quorvel
