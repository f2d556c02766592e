#include "capability/capability_query_module.h"

#include <new>
#include <utility>

#include "infra/platform/os_thread.h"

namespace quorvel {

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::ICapabilityQueryNotify* notify,
                                               bool flag)
    : m_flag(flag), m_notify(notify) {}

CCapabilityQueryModule::~CCapabilityQueryModule() {
  Terminate();
  bool abandoned = false;
  {
    CLockGuard guard(m_lock);
    if (m_thread && !m_thread->IsCurrent()) {
      const std::uint32_t waitMs = 2 * m_deviceInfo.connectTimeout;
      if (!m_thread->Join(waitMs)) {
        // Let go below: from here on the thread lives on its own
        // references and must not reach the host any more.
        if (m_fetch) m_fetch->Abandon();
        abandoned = true;
      }
    }
    m_thread.reset();
    m_fetch.reset();
    m_properties.reset();
    m_sink = nullptr;
  }
  if (abandoned && m_notify != nullptr) m_notify->OnQueryKilled();
}

std::uint32_t CCapabilityQueryModule::Start(const char* address, std::uint16_t port,
                                            const char* userName, const char* password,
                                            ipcapture::ICapabilityResultSink* sink) {
  CLockGuard guard(m_lock);
  if (m_thread) return 0;
  m_sink = sink;
  if (address == nullptr || userName == nullptr || password == nullptr) return 0;
  try {
    m_deviceInfo.address = address;
    m_deviceInfo.port = port;
    m_deviceInfo.userName = userName;
    m_deviceInfo.password = password;

    m_properties.reset(CreateProperties());
    if (!m_properties) return 0;

    m_fetch = std::make_shared<CCapabilityFetch>(m_deviceInfo.address, m_properties, m_notify,
                                                 m_sink);
    std::unique_ptr<platform::OsThread> thread(new platform::OsThread());
    // The thread holds the fetch, never the module, so it may outlive it.
    std::shared_ptr<CCapabilityFetch> fetch = m_fetch;
    if (!thread->Start([fetch]() {
          try {
            fetch->FetchCapabilities();
          } catch (...) {
            // The fetch ends without a report; nothing may leave the thread.
          }
        })) {
      m_fetch.reset();
      return 0;
    }
    m_thread = std::move(thread);
    return 1;
  } catch (...) {
    // Out of memory: no thread, so Start may be tried again.
    m_fetch.reset();
    return 0;
  }
}

void CCapabilityQueryModule::Terminate() {
  TSmartPtr<CBaseCameraProperties> properties;
  {
    CLockGuard guard(m_lock);
    properties = m_properties;
  }
  if (!properties) return;
  properties->AbortEvent().Set();
  properties->Abort();
}

}  // namespace quorvel
