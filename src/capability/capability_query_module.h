// CCapabilityQueryModule: the automatic-search query the host drives through
// IIPCapabilityQuery. Start checks its arguments, makes one properties
// object (CreateProperties, per device family) and runs one fetch on a
// thread of its own; the fetch reports to the host's notifier exactly once
// (CCapabilityFetch). Terminate asks a running fetch to stop at its next
// check. Each module runs at most one fetch in its lifetime.
//
// Destruction terminates the fetch and waits up to twice the connection
// time-out for its thread. A thread still running then is abandoned, never
// killed: it is detached and its gate closed, so it calls the host no more,
// the host is told OnQueryKilled, and the thread finishes on the shared
// state it holds (CCapabilityFetch and its own reference to the
// properties), never on this object.
//
// Created and destroyed by the host through the exports; the notifier and
// the result sink are the host's and are never destroyed here. Start,
// Terminate and the destructor are host calls, one at a time; the lock
// keeps them apart all the same. The destructor may also run on the
// fetching thread itself (a host that deletes the module from its
// notifier); it then does not wait.
#pragma once

#include <cstdint>
#include <memory>

#include "capability/capability_fetch.h"
#include "capability/camera_properties.h"
#include "infra/device_info.h"
#include "infra/recursive_lock.h"
#include "strevon.h"

namespace quorvel {

namespace platform {
class OsThread;
}

// The holder of a properties object: the last reference destroys it.
template <typename T>
using TSmartPtr = std::shared_ptr<T>;

class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
 public:
  CCapabilityQueryModule(ipcapture::ICapabilityQueryNotify* notify, bool flag);
  virtual ~CCapabilityQueryModule();
  STREVON_IMPLEMENT_SLOT0

  CCapabilityQueryModule(const CCapabilityQueryModule&) = delete;
  CCapabilityQueryModule& operator=(const CCapabilityQueryModule&) = delete;

  // 1 when the fetching thread started; 0 for a module that has already
  // started one, for a null address, user name or password, or when the
  // properties or the thread could not be made.
  std::uint32_t Start(const char* address, std::uint16_t port, const char* userName,
                      const char* password, ipcapture::ICapabilityResultSink* sink) override;
  // Signals the properties' abort event; does not wait.
  void Terminate() override;

 protected:
  // A new properties object for the module's device info and flag; null
  // when none can be made.
  virtual CBaseCameraProperties* CreateProperties() = 0;

  bool GetFlag() const { return m_flag; }
  // Filled by Start before CreateProperties.
  const DEVICE_INFO& GetDeviceInfo() const { return m_deviceInfo; }

 private:
  // Constant after construction.
  const bool m_flag;
  ipcapture::ICapabilityQueryNotify* const m_notify;

  CRecursiveLock m_lock;
  DEVICE_INFO m_deviceInfo GUARDED_BY(m_lock);
  ipcapture::ICapabilityResultSink* m_sink GUARDED_BY(m_lock) = nullptr;
  TSmartPtr<CBaseCameraProperties> m_properties GUARDED_BY(m_lock);
  std::shared_ptr<CCapabilityFetch> m_fetch GUARDED_BY(m_lock);
  std::unique_ptr<platform::OsThread> m_thread GUARDED_BY(m_lock);
};

}  // namespace quorvel
