// CGatewayProperties: the device properties of one Gateway, fetched once
// for the automatic search.
//
// Fetch probes the Gateway's Kalmeno version on a connection of its own,
// then connects its own client at that protocol level, logs on, reads the
// user's profile and the PTZ properties of its PTZ cameras, takes the
// resolutions from the settings file, and always queues "user/logoff" at
// the end. The channel count is the smaller of the profile's camera count
// and the real-time streams the log-on granted (the larger when the smaller
// is 0). SaveParameters writes the custom parameters a driver reads back at
// Open, in exactly its order: video standard, Kalmeno version, one per
// channel, one per input, one per output.
//
// Owns its Gateway client, log-on and profile reader for its whole life;
// see CBaseCameraProperties for ownership and threads. The abort event cuts
// short every wait of Fetch, the connect attempts included.
#pragma once

#include <cstdint>
#include <vector>

#include "capability/camera_properties.h"
#include "core/camera_record.h"
#include "gateway/gw_client.h"
#include "infra/device_info.h"
#include "session/log_on.h"
#include "session/profile_reader.h"
#include "strevon.h"

namespace quorvel {

class CGatewayProperties : public CBaseCameraProperties {
 public:
  // Fetch statuses.
  static constexpr int kStatusLogOnRefused = 1;
  static constexpr int kStatusFailed = 3;

  CGatewayProperties(const DEVICE_INFO& device, std::uint32_t videoStandard);
  ~CGatewayProperties() override;

  bool SaveParameters(ipcapture::ICapabilityResultSink* sink) override;
  bool Fetch(int* status) override;

  int GetKalmenoVersion() const { return m_kalmenoVersion; }
  const std::vector<CameraRecord>& GetCameras() const { return m_cameras; }
  const std::vector<IORecord>& GetInputs() const { return m_inputs; }
  const std::vector<IORecord>& GetOutputs() const { return m_outputs; }

 private:
  // Steps up to the resolutions; false at the first that fails or when
  // the abort event is found signalled between two steps.
  bool RunSteps(int& status);
  bool LogOn(int& status);
  bool ReadProfile();
  void FillResolutions();

  // Members in this order: the client goes last, after the receivers that
  // are registered with it.
  CGWClient m_client;
  CLogOn m_logOn;
  CProfileReader m_profileReader;

  // Fetching thread only.
  std::vector<CameraRecord> m_cameras;
  std::vector<IORecord> m_inputs;
  std::vector<IORecord> m_outputs;
  int m_kalmenoVersion = 0;
};

}  // namespace quorvel
