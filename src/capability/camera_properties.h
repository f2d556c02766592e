// CBaseCameraProperties: what the automatic search learned about one device
// (name, connection data, counts, codec kinds, flags, resolutions, frame
// rates, named parameters) and how it is written into the host's result
// sink. A subclass fills the data from its device in Fetch and writes the
// named parameters in SaveParameters; Save writes everything else in a
// fixed order and stops at the first step that finds nothing to report.
// CAudioCapabilities: the audio part of that record.
//
// Owned by the capability query module through a reference-counted holder;
// the fetching thread holds a second reference while it works, and the last
// holder destroys the object. Fetch and Save run on the fetching thread
// only. The abort event and Abort may be used from any thread: the module
// signals the event when the host ends the query, and Fetch gives up at its
// next check (its waits also watch the event).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "infra/device_info.h"
#include "infra/event.h"
#include "strevon.h"

namespace quorvel {

class CAudioCapabilities {
 public:
  CAudioCapabilities() = default;
  virtual ~CAudioCapabilities() = default;

  // "Count=%u; IsStereo=%u".
  std::string ToString() const;

  std::uint32_t count = 0;
  bool stereo = false;
};

// One offered resolution and the frame interval it is reported with.
struct ResolutionEntry {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint32_t frameIntervalMs = 0;
};

class CBaseCameraProperties {
 public:
  // videoStandard: non-zero selects 30 frames per second, zero 25.
  CBaseCameraProperties(const DEVICE_INFO& device, std::uint32_t videoStandard);

  CBaseCameraProperties(const CBaseCameraProperties&) = delete;
  CBaseCameraProperties& operator=(const CBaseCameraProperties&) = delete;

  // Called after the abort event was signalled; nothing to do by default.
  virtual void Abort() {}
  // The frame rates as intervals and the default among them; false when no
  // rate is known or there is no list.
  virtual bool SaveFrameIntervals(ipcapture::ICapabilityFrameIntervalList* list);
  // The named parameters that the host hands back to a driver at Open.
  virtual bool SaveParameters(ipcapture::ICapabilityResultSink* sink) = 0;
  virtual ~CBaseCameraProperties();
  // Reads the device. status arrives as 3 and is changed only on failure.
  virtual bool Fetch(int* status) = 0;
  // Details of the last failure; none are kept here.
  virtual std::string GetLastErrorText() const { return std::string(); }

  // Writes everything into sink; false (the rest unwritten) at the first
  // step that has nothing to report.
  bool Save(ipcapture::ICapabilityResultSink* sink);

  // Set from any thread to make Fetch give up; manual reset.
  CManualEvent& AbortEvent() { return m_abortEvent; }

  // The interval of a frame rate in milliseconds: 1000 / rate + 0.5,
  // truncated; 25 gives 40, 30 gives 33. A rate of 0 gives 1.
  static std::uint32_t IntervalOf(std::uint32_t rate);

  // Ignored when width or height is 0. An existing entry of the same size
  // keeps the smaller non-zero interval; otherwise the entry is appended.
  void AddResolution(std::uint32_t width, std::uint32_t height, std::uint32_t frameIntervalMs);

  const std::vector<ResolutionEntry>& GetResolutions() const { return m_resolutions; }
  std::uint32_t GetChannelCount() const { return m_channelCount; }
  std::uint32_t GetInputCount() const { return m_inputCount; }
  std::uint32_t GetOutputCount() const { return m_outputCount; }

 protected:
  bool IsAborted() { return m_abortEvent.Wait(0); }

  // One named parameter, written as SetName, SetOption (0), SetPerObject,
  // SetValue ("(none)" for an empty value).
  static void WriteParameter(ipcapture::ICapabilityResultSink* sink, std::uint32_t index,
                             const std::string& name, std::uint32_t perObject,
                             const std::string& value);

  // Constant after construction.
  const DEVICE_INFO m_deviceInfo;
  const std::uint32_t m_videoStandard;

  // Written by Fetch, read by Save, both on the fetching thread.
  std::string m_manufacturer;
  std::string m_deviceName;
  CAudioCapabilities m_audioInput;
  CAudioCapabilities m_audioOutput;
  std::uint32_t m_audioMode = 0;
  std::uint32_t m_audioChannelCount = 0;
  bool m_capability1 = false;
  bool m_capability5 = false;
  bool m_capability11 = false;
  bool m_capability12 = false;
  std::uint32_t m_inputCount = 0;
  std::uint32_t m_outputCount = 0;
  std::uint32_t m_channelCount = 0;
  std::set<std::uint32_t> m_codecKinds;  // 1, 2 or 3
  std::vector<ResolutionEntry> m_resolutions;
  std::set<std::uint32_t> m_frameRates;  // frames per second
  std::uint32_t m_preferredFrameRate = 0;  // 0: none

 private:
  bool SaveDeviceName(ipcapture::ICapabilityResultSink* sink);
  void SaveConnectionItems(ipcapture::ICapabilityResultSink* sink);
  bool SaveCodecs(ipcapture::ICapabilityResultSink* sink);
  bool SaveResolutions(ipcapture::ICapabilityResultSink* sink);
  void SaveFlagsAndAudio(ipcapture::ICapabilityResultSink* sink);

  CManualEvent m_abortEvent;
};

}  // namespace quorvel
