// CCapabilityFetch: the work of one capability query's fetching thread and
// everything that work touches: the device address, its own reference to
// the properties object, the host's notifier and result sink, and the gate
// that keeps an abandoned fetch away from the host.
//
// Made by the module's Start and shared (std::shared_ptr) by the module and
// the thread, so a fetch that outlasts the module's destruction still runs
// on live memory: it never touches the module. FetchCapabilities runs once,
// on the fetching thread; Abandon runs on the thread destroying the module.
// The notifier and the sink belong to the host; every call into them goes
// through the gate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capability/host_call_gate.h"
#include "capability/camera_properties.h"
#include "strevon.h"

namespace quorvel {

class CCapabilityFetch {
 public:
  // Statuses of OnQueryFailed besides those the properties report.
  static constexpr int kStatusInvalidAddress = 0;
  static constexpr int kStatusLogOnRefused = 1;
  static constexpr int kStatusUnreachable = 2;
  static constexpr int kStatusFailed = 3;

  // The characters that may not occur in a device address; a colon among
  // them, so an address cannot carry a port.
  static constexpr const char* kInvalidAddressCharacters = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";

  CCapabilityFetch(std::string address, std::shared_ptr<CBaseCameraProperties> properties,
                   ipcapture::ICapabilityQueryNotify* notify,
                   ipcapture::ICapabilityResultSink* sink);

  CCapabilityFetch(const CCapabilityFetch&) = delete;
  CCapabilityFetch& operator=(const CCapabilityFetch&) = delete;

  // Fetches, saves into the sink and tells the notifier the outcome:
  // OnQueryCompleted, or OnQueryFailed with a status and a reason.
  void FetchCapabilities();

  // After this the fetch calls the host no more. True when no host call was
  // left under way.
  bool Abandon() { return m_gate->Close(); }

  static bool IsValidAddress(const std::string& address);
  // "Failed to get camera properties" and what the status adds to it.
  static std::string FetchFailureText(int status, const std::string& errorText);

 private:
  void Notify(bool succeeded, int status, const std::string& message);

  // Constant after construction.
  const std::string m_address;
  ipcapture::ICapabilityQueryNotify* const m_notify;
  ipcapture::ICapabilityResultSink* const m_sink;
  const std::shared_ptr<CHostCallGate> m_gate;

  // The fetching thread's reference; taken over (and released) by
  // FetchCapabilities.
  std::shared_ptr<CBaseCameraProperties> m_properties;
};

}  // namespace quorvel
