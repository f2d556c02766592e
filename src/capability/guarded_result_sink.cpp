#include "capability/guarded_result_sink.h"

#include <utility>

namespace quorvel {

using ipcapture::ICapabilityFrameIntervalList;
using ipcapture::ICapabilityInfoItem;
using ipcapture::ICapabilityParameter;
using ipcapture::ICapabilityResolutionList;
using ipcapture::ICapabilityResultSink;

class CGuardedResultSink::InfoItem final : public ICapabilityInfoItem {
 public:
  STREVON_IMPLEMENT_SLOT0
  InfoItem(ICapabilityInfoItem* host, CHostCallGate& gate) : m_host(host), m_gate(gate) {}
  void SetValue(const char* value) override {
    CHostCallGate::Call call(m_gate);
    if (call.IsOpen()) m_host->SetValue(value);
  }

 private:
  ICapabilityInfoItem* const m_host;
  CHostCallGate& m_gate;
};

class CGuardedResultSink::Parameter final : public ICapabilityParameter {
 public:
  STREVON_IMPLEMENT_SLOT0
  Parameter(ICapabilityParameter* host, CHostCallGate& gate) : m_host(host), m_gate(gate) {}
  void SetValue(const char* value) override {
    CHostCallGate::Call call(m_gate);
    if (call.IsOpen()) m_host->SetValue(value);
  }
  void SetPerObject(std::uint32_t perObject) override {
    CHostCallGate::Call call(m_gate);
    if (call.IsOpen()) m_host->SetPerObject(perObject);
  }
  void SetName(const char* name) override {
    CHostCallGate::Call call(m_gate);
    if (call.IsOpen()) m_host->SetName(name);
  }
  void SetOption(std::uint32_t option) override {
    CHostCallGate::Call call(m_gate);
    if (call.IsOpen()) m_host->SetOption(option);
  }

 private:
  ICapabilityParameter* const m_host;
  CHostCallGate& m_gate;
};

class CGuardedResultSink::ResolutionList final : public ICapabilityResolutionList {
 public:
  STREVON_IMPLEMENT_SLOT0
  ResolutionList(ICapabilityResolutionList* host, CHostCallGate& gate)
      : m_host(host), m_gate(gate) {}
  void AddResolution(const char* text, std::uint32_t width, std::uint32_t height,
                     std::uint32_t frameIntervalMs) override {
    CHostCallGate::Call call(m_gate);
    if (call.IsOpen()) m_host->AddResolution(text, width, height, frameIntervalMs);
  }

 private:
  ICapabilityResolutionList* const m_host;
  CHostCallGate& m_gate;
};

class CGuardedResultSink::FrameIntervalList final : public ICapabilityFrameIntervalList {
 public:
  STREVON_IMPLEMENT_SLOT0
  FrameIntervalList(ICapabilityFrameIntervalList* host, CHostCallGate& gate)
      : m_host(host), m_gate(gate) {}
  void SetDefaultInterval(std::uint32_t intervalMs) override {
    CHostCallGate::Call call(m_gate);
    if (call.IsOpen()) m_host->SetDefaultInterval(intervalMs);
  }
  void AddInterval(std::uint32_t intervalMs) override {
    CHostCallGate::Call call(m_gate);
    if (call.IsOpen()) m_host->AddInterval(intervalMs);
  }

 private:
  ICapabilityFrameIntervalList* const m_host;
  CHostCallGate& m_gate;
};

CGuardedResultSink::CGuardedResultSink(ICapabilityResultSink* host,
                                       std::shared_ptr<CHostCallGate> gate)
    : m_host(host), m_gate(std::move(gate)) {}

CGuardedResultSink::~CGuardedResultSink() = default;

template <typename Wrapper, typename HostObject>
Wrapper* CGuardedResultSink::Wrap(HostObject* host) {
  if (host == nullptr) return nullptr;
  auto wrapper = std::make_shared<Wrapper>(host, *m_gate);
  m_wrappers.push_back(wrapper);
  return wrapper.get();
}

void CGuardedResultSink::SetCapability(std::uint32_t id, std::uint32_t value) {
  CHostCallGate::Call call(*m_gate);
  if (call.IsOpen()) m_host->SetCapability(id, value);
}

void CGuardedResultSink::SetDeviceName(const char* name) {
  CHostCallGate::Call call(*m_gate);
  if (call.IsOpen()) m_host->SetDeviceName(name);
}

ICapabilityInfoItem* CGuardedResultSink::GetInfoItem(std::uint32_t index) {
  ICapabilityInfoItem* host = nullptr;
  {
    CHostCallGate::Call call(*m_gate);
    if (call.IsOpen()) host = m_host->GetInfoItem(index);
  }
  return Wrap<InfoItem>(host);
}

ICapabilityParameter* CGuardedResultSink::AddParameter(std::uint32_t index) {
  ICapabilityParameter* host = nullptr;
  {
    CHostCallGate::Call call(*m_gate);
    if (call.IsOpen()) host = m_host->AddParameter(index);
  }
  return Wrap<Parameter>(host);
}

ICapabilityResolutionList* CGuardedResultSink::GetResolutionList() {
  ICapabilityResolutionList* host = nullptr;
  {
    CHostCallGate::Call call(*m_gate);
    if (call.IsOpen()) host = m_host->GetResolutionList();
  }
  return Wrap<ResolutionList>(host);
}

ICapabilityFrameIntervalList* CGuardedResultSink::GetFrameIntervalList(std::uint32_t kind) {
  ICapabilityFrameIntervalList* host = nullptr;
  {
    CHostCallGate::Call call(*m_gate);
    if (call.IsOpen()) host = m_host->GetFrameIntervalList(kind);
  }
  return Wrap<FrameIntervalList>(host);
}

}  // namespace quorvel
