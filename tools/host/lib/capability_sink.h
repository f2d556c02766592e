// CapabilityNotifier and CapabilityResultSink: the host's side of the
// automatic search. The sink records every call the driver makes, in order,
// as readable text ("SetCapability 0 2", "AddParameter 3", "SetName Channel 1"
// ...) and also keeps the parameters as a table, so tests can check both the
// call order and the values, and the host tool can hand the parameters back
// at Open. Called on the driver's fetching thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "strevon.h"
#include "waitable_log.h"

namespace strevon {
namespace host {

struct QueryOutcome {
  enum Kind { kCompleted, kFailed, kKilled } kind = kCompleted;
  int status = 0;
  std::string message;
};

class CapabilityNotifier : public quorvel::ipcapture::ICapabilityQueryNotify {
 public:
  void OnQueryCompleted() override { m_outcomes.Add(QueryOutcome{QueryOutcome::kCompleted, 0, {}}); }
  void OnQueryFailed(int status, const char* message) override {
    m_outcomes.Add(QueryOutcome{QueryOutcome::kFailed, status, message ? message : ""});
  }
  void OnQueryKilled() override { m_outcomes.Add(QueryOutcome{QueryOutcome::kKilled, 0, {}}); }

  const WaitableLog<QueryOutcome>& Outcomes() const { return m_outcomes; }

 private:
  WaitableLog<QueryOutcome> m_outcomes;
};

struct CapabilityParameter {
  std::uint32_t index = 0;
  std::string name;
  std::string value;
  std::uint32_t perObject = 0;
  std::uint32_t option = 0;
};

struct CapabilityResolution {
  std::string text;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t intervalMs = 0;
};

class CapabilityResultSink : public quorvel::ipcapture::ICapabilityResultSink {
 public:
  CapabilityResultSink();
  ~CapabilityResultSink() override;

  void SetCapability(std::uint32_t id, std::uint32_t value) override;
  void SetDeviceName(const char* name) override;
  quorvel::ipcapture::ICapabilityInfoItem* GetInfoItem(std::uint32_t index) override;
  quorvel::ipcapture::ICapabilityParameter* AddParameter(std::uint32_t index) override;
  quorvel::ipcapture::ICapabilityResolutionList* GetResolutionList() override;
  quorvel::ipcapture::ICapabilityFrameIntervalList* GetFrameIntervalList(std::uint32_t kind) override;

  // Every call in order, as text.
  std::vector<std::string> Calls() const { return m_calls.Snapshot(); }
  std::string DeviceName() const;
  std::map<std::uint32_t, std::uint32_t> Capabilities() const;
  std::map<std::uint32_t, std::string> InfoItems() const;
  std::vector<CapabilityParameter> Parameters() const;
  std::vector<CapabilityResolution> Resolutions() const;
  std::vector<std::uint32_t> FrameIntervals() const;
  std::uint32_t DefaultFrameInterval() const;
  // The parameter values in index order: what a host hands back at Open.
  std::vector<std::string> CustomParameters() const;

  void Record(const std::string& call) { m_calls.Add(call); }

 private:
  class InfoItem;
  class Parameter;
  class ResolutionList;
  class FrameIntervalList;
  friend class InfoItem;
  friend class Parameter;
  friend class ResolutionList;
  friend class FrameIntervalList;

  mutable std::mutex m_mutex;
  WaitableLog<std::string> m_calls;
  std::string m_deviceName;
  std::map<std::uint32_t, std::uint32_t> m_capabilities;
  std::map<std::uint32_t, std::string> m_infoItems;
  std::map<std::uint32_t, CapabilityParameter> m_parameters;
  std::vector<CapabilityResolution> m_resolutions;
  std::vector<std::uint32_t> m_intervals;
  std::uint32_t m_defaultInterval = 0;
  std::vector<std::unique_ptr<InfoItem>> m_infoObjects;
  std::vector<std::unique_ptr<Parameter>> m_parameterObjects;
  std::unique_ptr<ResolutionList> m_resolutionList;
  std::unique_ptr<FrameIntervalList> m_intervalList;
};

}  // namespace host
}  // namespace strevon
