#include "infra/mutex.h"

#include <new>

#include "infra/platform/named_mutex.h"

namespace quorvel {

CMutex::CMutex(const std::string& name) {
  try {
    m_handle.reset(new platform::NamedMutex(name));
  } catch (...) {
    m_handle.reset();
  }
}

CMutex::~CMutex() = default;

bool CMutex::Lock() { return IsValid() && m_handle->Lock(kLockTimeoutMs); }

void CMutex::Unlock() {
  if (m_handle) m_handle->Unlock();
}

bool CMutex::IsValid() const { return m_handle && m_handle->IsValid(); }

}  // namespace quorvel
