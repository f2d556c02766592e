// Camera properties filled by hand instead of by a device, for the capability
// fetch and the writing into a host's result sink. Complete() gives Save all
// it needs; Fetch fails with the status given (-1 throws).
#pragma once

#include <stdexcept>
#include <string>

#include "capability/camera_properties.h"
#include "infra/device_info.h"

namespace quorvel {
namespace test_support {

class FilledProperties : public CBaseCameraProperties {
 public:
  explicit FilledProperties(std::uint32_t videoStandard = 0, int fetchStatus = 0, std::string errorText = "")
      : CBaseCameraProperties(DEVICE_INFO(), videoStandard), m_fetchStatus(fetchStatus),
        m_errorText(std::move(errorText)) {}
  FilledProperties& Complete() {
    m_deviceName = "gw.local";
    m_codecKinds = {2, 3};
    m_channelCount = 2;
    AddResolution(640, 480, 40);
    m_frameRates = {25};
    return *this;
  }
  bool Fetch(int* status) override {
    if (m_fetchStatus < 0) throw std::runtime_error("fetch");
    *status = m_fetchStatus;
    return false;
  }
  bool SaveParameters(ipcapture::ICapabilityResultSink* sink) override {
    WriteParameter(sink, 1, "Only", 0, "");
    return true;
  }
  std::string GetLastErrorText() const override { return m_errorText; }

  using CBaseCameraProperties::m_channelCount;
  using CBaseCameraProperties::m_codecKinds;
  using CBaseCameraProperties::m_deviceName;
  using CBaseCameraProperties::m_frameRates;
  using CBaseCameraProperties::m_preferredFrameRate;
  using CBaseCameraProperties::m_resolutions;

 private:
  const int m_fetchStatus;
  const std::string m_errorText;
};

}  // namespace test_support
}  // namespace quorvel
