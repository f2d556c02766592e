// CGuardedResultSink: the host's result sink as an abandoned fetch may see
// it. Every call, and every call on the info items, parameters and lists
// the sink hands out, goes to the host only while the gate is open; once it
// is closed, calls do nothing and the getters return null.
//
// Created and used by the fetching thread only, for one Save; it owns the
// wrappers it hands out (they live as long as it does), never the host's
// objects. Shares the gate with the module.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "capability/host_call_gate.h"
#include "strevon.h"

namespace quorvel {

class CGuardedResultSink : public ipcapture::ICapabilityResultSink {
 public:
  CGuardedResultSink(ipcapture::ICapabilityResultSink* host, std::shared_ptr<CHostCallGate> gate);
  virtual ~CGuardedResultSink();
  STREVON_IMPLEMENT_SLOT0

  CGuardedResultSink(const CGuardedResultSink&) = delete;
  CGuardedResultSink& operator=(const CGuardedResultSink&) = delete;

  void SetCapability(std::uint32_t id, std::uint32_t value) override;
  void SetDeviceName(const char* name) override;
  ipcapture::ICapabilityInfoItem* GetInfoItem(std::uint32_t index) override;
  ipcapture::ICapabilityParameter* AddParameter(std::uint32_t index) override;
  ipcapture::ICapabilityResolutionList* GetResolutionList() override;
  ipcapture::ICapabilityFrameIntervalList* GetFrameIntervalList(std::uint32_t kind) override;

 private:
  class InfoItem;
  class Parameter;
  class ResolutionList;
  class FrameIntervalList;

  // The wrapper for a host object, kept until this sink goes; null for a
  // null host object.
  template <typename Wrapper, typename HostObject>
  Wrapper* Wrap(HostObject* host);

  ipcapture::ICapabilityResultSink* const m_host;
  const std::shared_ptr<CHostCallGate> m_gate;
  // Every object handed out; each derives from one host interface.
  std::vector<std::shared_ptr<void>> m_wrappers;
};

}  // namespace quorvel
